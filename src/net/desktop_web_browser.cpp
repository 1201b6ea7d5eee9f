#include "net/desktop_web_browser.h"

#include "text/ascii_text.h"

namespace tamberly {
namespace {

// The shell splits its parameters on blanks, and a URL never holds a raw blank or quote: encode those.
std::string oneWord(const std::string& url) {
    return percentEncode(url, [](unsigned char byte) { return byte > ' ' && byte != '"' && byte != 0x7F; });
}

} // namespace

bool DesktopWebBrowser::takesNewWindow(const std::string& program) {
    const auto slash = program.find_last_of("/\\");
    const std::string name = lowerAscii(slash == std::string::npos ? program : program.substr(slash + 1));
    for (const char* prefix : {"firefox", "chromium", "google-chrome", "brave", "microsoft-edge"})
        if (name.starts_with(prefix))
            return true;
    return false;
}

SettingsWebBrowser::Request DesktopWebBrowser::request(const std::string& program, const std::string& url) const {
    const std::string page = oneWord(url);
    if (program.empty())
        return {"xdg-open", page};
    return {program, takesNewWindow(program) ? "--new-window " + page : page};
}

} // namespace tamberly
