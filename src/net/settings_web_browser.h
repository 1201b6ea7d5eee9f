#pragma once

#include "platform/web_browser.h"

#include <string>

namespace tamberly {

class Shell;

/// Opens pages in the browser stored in prefs.ini [Path] IE, or in the user's default browser when none is stored,
/// through the shell's open request. How that request names the program and the page is the desktop's convention:
/// each kind of desktop says it in request().
class SettingsWebBrowser : public WebBrowser {
public:
    /// Returns the shell's failure message, or the empty text.
    std::string openInNewWindow(const std::string& url) final;

protected:
    /// iniPath is the window's settings file path, read at every use.
    SettingsWebBrowser(Shell& shell, const std::string& iniPath);

    /// The file and parameters of the shell's open request.
    struct Request {
        std::string file;
        std::string parameters;
    };
    /// The request that opens url with program (a path or a bare name), or with the default browser when program is
    /// empty.
    virtual Request request(const std::string& program, const std::string& url) const = 0;

private:
    Shell& m_shell;
    const std::string& m_iniPath;
};

} // namespace tamberly
