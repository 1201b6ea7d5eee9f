#pragma once

#include "platform/web_browser.h"

#include <string>

namespace tamberly {

class Shell;

/// Opens pages in the browser stored in prefs.ini [Path] IE, or in the desktop's default browser when none is
/// stored, through the shell's open request.
class DesktopWebBrowser final : public WebBrowser {
public:
    /// iniPath is the window's settings file path, read at every use.
    DesktopWebBrowser(Shell& shell, const std::string& iniPath);

    /// Browsers known to open a new window for "--new-window URL" get it; others get the plain URL, which most
    /// of them open in a new window or tab. Returns the shell's failure message, or the empty text.
    std::string openInNewWindow(const std::string& url) override;

    /// Whether program (a path or a bare name) is a browser that takes "--new-window".
    static bool takesNewWindow(const std::string& program);

private:
    Shell& m_shell;
    const std::string& m_iniPath;
};

} // namespace tamberly
