#pragma once

#include "platform/status_line.h"

class QLabel;

namespace tamberly {

/// The status line over a QLabel; keeps the exact text it was given, whatever the label can show, and offers a text
/// too long for the label as its tool tip.
class QtStatusLine final : public StatusLine {
public:
    explicit QtStatusLine(QLabel& label) : m_label(label) {}
    void setCaption(const std::string& text) override;
    std::string caption() const override { return m_text; }

private:
    QLabel& m_label;
    std::string m_text;
};

} // namespace tamberly
