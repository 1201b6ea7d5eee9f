#pragma once

#include <string>

namespace tamberly {

/// The window's status line (`status`), where commands write their outcome.
class StatusLine {
public:
    virtual ~StatusLine() = default;
    virtual void setCaption(const std::string& text) = 0;
    virtual std::string caption() const = 0;
};

} // namespace tamberly
