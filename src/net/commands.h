#pragma once

#include "net/list_download.h"
#include "net/proxy_submission.h"
#include "net/website.h"
#include "proxy/browser_launch.h"
#include "proxy/selection_commands.h"
#include "proxy/system_proxy.h"

#include <string>

namespace tamberly {

class Dialogs;
class ListBox;
class OptionsPanel;
class RandomSource;
class Registry;
class Shell;
class StatusLine;
class Timer;
class TransferControl;
class WebBrowser;

/// What the commands work on: one window's controls and the platform pieces beneath them.
struct CommandParts {
    Registry& registry;
    Shell& shell;
    Dialogs& dialogs;
    TransferControl& transfer;
    RandomSource& random;
    WebBrowser& webBrowser;
    OptionsPanel& optionsPanel;
    StatusLine& status;
    ListBox& Proxydisplay;
    Timer& Timer1;
    /// The settings file.
    std::string iniPath;
};

/// The handlers of the menu commands and the button, the same on every front end, built over one window's
/// controls; the window forwards its events to them.
class Commands final {
public:
    explicit Commands(const CommandParts& parts);
    Commands(const Commands&) = delete;
    Commands& operator=(const Commands&) = delete;

private:
    // Before the handlers, which keep references to them.
    const std::string m_IniPath;
    std::string m_proxylist = "Label1";

public:
    SystemProxy systemProxy;
    BrowserLaunch browserLaunch;
    SelectionCommands selection;
    ListDownload download;
    ProxySubmission submission;
    Website website;
};

} // namespace tamberly
