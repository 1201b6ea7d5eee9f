#pragma once

#include "platform/session_start.h"

#include <string>

namespace tamberly {

/// The program's entry in the user's autostart folder ($XDG_CONFIG_HOME/autostart), which every desktop that follows
/// the XDG autostart rules starts at log-in. It starts the program hidden, after the panel, so that the
/// notification area is there for its icon.
class AutostartEntry final : public SessionStart {
public:
    /// file: the entry's path; program: the absolute path of the program it starts.
    AutostartEntry(std::string file, std::string program);

    /// The entry's path for this user: $XDG_CONFIG_HOME/autostart/org.tamberly.Tamberly.desktop, by default under
    /// ~/.config; empty when no home folder is known.
    static std::string defaultPath();

    /// The entry's text for program; empty when the program's path cannot be written in an entry.
    static std::string entryText(const std::string& program);

    bool enabled() const override;
    std::string setEnabled(bool on) override;

private:
    std::string m_file;
    std::string m_program;
};

} // namespace tamberly
