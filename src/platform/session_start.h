#pragma once

#include <string>

namespace tamberly {

/// Whether the program starts, hidden, when the user's session starts: an autostart entry on Linux, the Run key on
/// Windows.
class SessionStart {
public:
    virtual ~SessionStart() = default;
    /// True while the session would start the program (an entry the user turned off in the desktop's own settings
    /// counts as off).
    virtual bool enabled() const = 0;
    /// Adds or removes the program's entry. The empty text, or why it failed (nothing is changed then).
    virtual std::string setEnabled(bool on) = 0;
};

} // namespace tamberly
