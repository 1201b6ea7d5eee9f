#pragma once

#include "app_win32/tamberly_window.h"
#include "net/commands.h"
#include "net/shell_web_browser.h"
#include "platform/windows/control_panel_options.h"

#include <string>

namespace tamberly {
class BrowserLocator;
class RandomSource;
class Registry;
class Shell;
class TransferControl;
} // namespace tamberly

namespace tamberly::win32 {

/// The platform pieces the program runs over.
struct AppPlatform {
    Registry& registry;
    Shell& shell;
    BrowserLocator& browserLocator;
    RandomSource& random;
    TransferControl& transfer;
    /// The settings file.
    std::string iniPath;
};

/// The program over the platform given: the window, the handlers its events go to, and start-up; the window is
/// shown once the list is filled.
class App final {
public:
    App(HINSTANCE instance, AppPlatform platform);
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    Tamberly& window() { return m_window; }

private:
    AppPlatform m_platform;
    std::string m_IniPath;
    Tamberly m_window;
    ShellWebBrowser m_webBrowser;
    ControlPanelOptions m_optionsPanel;
    Commands m_commands;
};

} // namespace tamberly::win32
