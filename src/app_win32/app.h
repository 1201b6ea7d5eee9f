#pragma once

#include "app_win32/main_window.h"
#include "app_win32/watch_timer.h"
#include "commands/check_probe.h"
#include "commands/commands.h"

#include <memory>

#include <windows.h>

namespace tamberly {
class Platform;
class Settings;
} // namespace tamberly

namespace tamberly::win32 {

/// The Windows program: the main window, the platform with the window's own HTTP client, and the commands its clicks
/// run. Start-up runs when it is made, and the window is shown once it holds the stored list.
class App final {
public:
    /// settings is prefs.ini, read once for start-up; hidden starts in the notification area (--hidden).
    App(HINSTANCE instance, Settings& settings, bool hidden = false);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    MainWindow& window() { return m_window; }

private:
    // Whether the item of a toggling command is checked now.
    bool checked(Command command) const;

    // The window first: the platform's HTTP client offers it its keys, and the commands work on it. Its clicks reach
    // the commands only from the message loop, once all three are made.
    MainWindow m_window;
    std::unique_ptr<Platform> m_platform;
    // The watcher's timer and probe, before the commands that use them.
    Win32WatchTimer m_watchTimer;
    CheckProbe m_probe;
    Commands m_commands;
};

} // namespace tamberly::win32
