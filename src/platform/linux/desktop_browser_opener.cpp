#include "platform/linux/desktop_browser_opener.h"

#include "text/ascii_text.h"

namespace tamberly::desktop_browser {
namespace {

// A browser would take a raw blank or quote in its argument as part of the address; a URL never holds them.
std::string oneWord(const std::string& url) {
    return percentEncode(url, [](unsigned char byte) { return byte > ' ' && byte != '"' && byte != 0x7F; });
}

} // namespace

bool takesNewWindow(const std::string& program) {
    const auto slash = program.find_last_of("/\\");
    const std::string name = lowerAscii(slash == std::string::npos ? program : program.substr(slash + 1));
    for (const char* prefix : {"firefox", "chromium", "google-chrome", "brave", "microsoft-edge"})
        if (name.starts_with(prefix))
            return true;
    return false;
}

std::vector<std::string> command(const std::string& browser, const std::string& url) {
    const std::string page = oneWord(url);
    if (browser.empty())
        return {"xdg-open", page};
    if (takesNewWindow(browser))
        return {browser, "--new-window", page};
    return {browser, page};
}

} // namespace tamberly::desktop_browser
