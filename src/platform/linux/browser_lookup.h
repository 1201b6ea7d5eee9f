#pragma once

#include <chrono>
#include <string>

namespace tamberly {

/// Finds the browser: the user's default browser as the desktop reports it (xdg-settings and the program of its
/// desktop file, found on PATH), else the first well-known browser program on PATH.
class BrowserLookup {
public:
    /// How long xdg-settings may take by default: the first start waits for the lookup before the window shows.
    static constexpr std::chrono::milliseconds kSettingsWait{1000};

    /// settingsWait bounds how long xdg-settings may take before it is given up on.
    explicit BrowserLookup(std::chrono::milliseconds settingsWait = kSettingsWait);
    /// Full path of the browser's program; the empty text when none is found.
    std::string findBrowser();

    /// The program that a desktop file's Exec value starts: its first word with escapes, quotes and field codes
    /// resolved, looking through a leading "env VAR=value ..."; for "flatpak run ... APP-ID", Flatpak's exported
    /// launcher of that application (the user's when installed there, else the system's); the empty text when there is
    /// none.
    static std::string execProgram(const std::string& exec);

private:
    std::string defaultBrowserId() const;
    std::chrono::milliseconds m_settingsWait;
};

} // namespace tamberly
