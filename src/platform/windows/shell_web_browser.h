#pragma once

#include "platform/web_browser.h"

#include <string>

namespace tamberly {

class Shell;

/// Opens pages in the browser stored in prefs.ini [Path] IE, given the address as its argument, or with the user's
/// default browser (the shell's open of the address) when none is stored.
class ShellWebBrowser final : public WebBrowser {
public:
    /// iniPath is the window's settings file path, read at every use.
    ShellWebBrowser(Shell& shell, const std::string& iniPath);
    /// Returns the shell's failure message, or the empty text.
    std::string openInNewWindow(const std::string& url) override;

private:
    Shell& m_shell;
    const std::string& m_iniPath;
};

} // namespace tamberly
