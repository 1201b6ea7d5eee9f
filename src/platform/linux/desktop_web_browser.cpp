#include "platform/linux/desktop_web_browser.h"

#include "platform/shell.h"
#include "proxy/browser_launch.h"
#include "storage/ini_file.h"
#include "text/ascii_text.h"

#include <algorithm>
#include <cctype>

namespace tamberly {
namespace {

// The shell splits its parameters on blanks, and a URL never holds a raw blank or quote: encode those.
std::string oneWord(const std::string& url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string word;
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte == '"' || byte == 0x7F) {
            word += '%';
            word += kHex[byte >> 4];
            word += kHex[byte & 0x0F];
        } else {
            word += c;
        }
    }
    return word;
}

} // namespace

DesktopWebBrowser::DesktopWebBrowser(Shell& shell, const std::string& iniPath) : m_shell(shell), m_iniPath(iniPath) {}

bool DesktopWebBrowser::takesNewWindow(const std::string& program) {
    const auto slash = program.find_last_of("/\\");
    const std::string name = lowerAscii(slash == std::string::npos ? program : program.substr(slash + 1));
    for (const char* prefix : {"firefox", "chromium", "google-chrome", "brave", "microsoft-edge"})
        if (name.starts_with(prefix))
            return true;
    return false;
}

std::string DesktopWebBrowser::openInNewWindow(const std::string& url) {
    const std::string program = ReadINI("Path", "IE", m_iniPath);
    const std::string page = oneWord(url);
    const std::uintptr_t owner = m_shell.GetDesktopWindow();
    long result = 0;
    if (program.empty())
        result = m_shell.ShellExecute(owner, "Open", "xdg-open", page, "C:\\", 1);
    else
        result = m_shell.ShellExecute(owner, "Open", program, takesNewWindow(program) ? "--new-window " + page : page,
                                      "C:\\", 1);
    return result > 32 ? std::string() : BrowserLaunch::ShellErrorText(result);
}

} // namespace tamberly
