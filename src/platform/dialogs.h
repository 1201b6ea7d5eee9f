#pragma once

#include <string>

namespace tamberly {

/// Modal message and input boxes.
class Dialogs {
public:
    // Button sets and answers, with the values the program has always used.
    static constexpr int vbOKOnly = 0;
    static constexpr int vbYesNo = 4;
    static constexpr int vbOK = 1;
    static constexpr int vbYes = 6;
    static constexpr int vbNo = 7;

    virtual ~Dialogs() = default;
    /// Shows text with the given buttons and no icon; an empty title shows the application's title.
    /// Returns the button pressed (vbOK, vbYes or vbNo).
    virtual int MsgBox(const std::string& text, int buttons = vbOKOnly, const std::string& title = {}) = 0;
    /// Asks for one line of text with an empty default; returns the empty string when cancelled.
    virtual std::string InputBox(const std::string& prompt, const std::string& title) = 0;
};

} // namespace tamberly
