#include "platform/windows/shell_web_browser.h"

#include "platform/shell.h"
#include "proxy/browser_launch.h"
#include "storage/ini_file.h"

namespace tamberly {

ShellWebBrowser::ShellWebBrowser(Shell& shell, const std::string& iniPath) : m_shell(shell), m_iniPath(iniPath) {}

std::string ShellWebBrowser::openInNewWindow(const std::string& url) {
    // Quoted as one argument: an address never holds a double quote of its own once encoded.
    std::string page;
    for (const char c : url)
        page += c == '"' ? std::string("%22") : std::string(1, c);
    const std::string program = ReadINI("Path", "IE", m_iniPath);
    const std::uintptr_t owner = m_shell.GetDesktopWindow();
    const long result = program.empty() ? m_shell.ShellExecute(owner, "Open", page, "", "C:\\", 1)
                                        : m_shell.ShellExecute(owner, "Open", program, "\"" + page + "\"", "C:\\", 1);
    return result > 32 ? std::string() : BrowserLaunch::ShellErrorText(result);
}

} // namespace tamberly
