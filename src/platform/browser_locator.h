#pragma once

#include <string>

namespace tamberly {

/// Finds the web browser's program on this machine.
class BrowserLocator {
public:
    virtual ~BrowserLocator() = default;
    /// Full path of the browser's executable; the empty text when none is found.
    virtual std::string findBrowser() = 0;
};

} // namespace tamberly
