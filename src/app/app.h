#pragma once

#include "app/main_window.h"
#include "app/qt_watch_timer.h"
#include "commands/check_probe.h"
#include "commands/commands.h"

#include <functional>

namespace tamberly {

class Platform;
class Settings;
class TrayIcon;

/// The Qt program over the platform given: the main window and the commands its clicks run. Start-up runs when it
/// is made: the window holds the stored list before it is shown.
class App final {
public:
    /// settings is prefs.ini, read once for start-up; tray is the notification-area icon; endProcess ends the
    /// program.
    App(Settings& settings, Platform& platform, TrayIcon& tray, std::function<void()> endProcess);
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    MainWindow& window() { return m_window; }

private:
    // Whether the item of a toggling command is checked now.
    bool checked(Command command) const;

    std::function<void()> m_endProcess;
    // The window first: the commands work on it. Its clicks reach the commands only from the event loop, once both
    // are made.
    MainWindow m_window;
    // The watcher's timer and probe, before the commands that use them.
    QtWatchTimer m_watchTimer;
    CheckProbe m_probe;
    Commands m_commands;
};

} // namespace tamberly
