#include "net/settings_web_browser.h"

#include "platform/shell.h"
#include "proxy/browser_launch.h"
#include "storage/ini_file.h"

namespace tamberly {

SettingsWebBrowser::SettingsWebBrowser(Shell& shell, const std::string& iniPath) : m_shell(shell), m_iniPath(iniPath) {}

std::string SettingsWebBrowser::openInNewWindow(const std::string& url) {
    const Request launch = request(ReadINI("Path", "IE", m_iniPath), url);
    const long result =
        m_shell.ShellExecute(m_shell.GetDesktopWindow(), "Open", launch.file, launch.parameters, "C:\\", 1);
    return result > 32 ? std::string() : BrowserLaunch::ShellErrorText(result);
}

} // namespace tamberly
