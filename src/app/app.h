#pragma once

#include "app/tamberly.h"
#include "net/check_command.h"
#include "net/commands.h"
#include "net/desktop_web_browser.h"
#include "platform/qt/internet_options_dialog.h"

#include <functional>
#include <string>
#include <vector>

namespace tamberly {

class BrowserLocator;
class Dialogs;
class RandomSource;
class Registry;
class Shell;
class TransferControl;
class TrayIcon;

/// The platform pieces the program runs over: the real ones when it runs, fakes in tests.
struct AppPlatform {
    Registry& registry;
    Shell& shell;
    BrowserLocator& browserLocator;
    RandomSource& random;
    Dialogs& dialogs;
    TransferControl& transfer;
    TrayIcon& tray;
    /// Ends the program.
    std::function<void()> endProcess;
    /// The desktop proxy settings a change writes, shown in the Internet Options dialog.
    std::vector<std::string> writtenSettings = {};
    /// Opens the desktop's own proxy page; false when there is none (the program's own dialog opens instead). None
    /// at all where the desktop's setting is left alone.
    std::function<bool()> openDesktopProxyPage = {};
};

/// The program over the platform given: the window, the handlers its events go to, and start-up. The settings file
/// is prefs.ini in the per-user folder.
class App final {
public:
    explicit App(AppPlatform platform);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    Tamberly& window() { return m_window; }

private:
    AppPlatform m_platform;
    std::string m_IniPath;
    Tamberly m_window;
    DesktopWebBrowser m_webBrowser;
    InternetOptionsDialog m_optionsPanel;
    Commands m_commands;
    // Last, so that a running check is abandoned before anything it reports to goes.
    CheckCommand m_check;
};

} // namespace tamberly
