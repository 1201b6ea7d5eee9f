#include "net/shell_web_browser.h"

#include "text/ascii_text.h"

namespace tamberly {

SettingsWebBrowser::Request ShellWebBrowser::request(const std::string& program, const std::string& url) const {
    // Quoted as one argument: an address never holds a double quote of its own once encoded.
    const std::string page = percentEncode(url, [](unsigned char byte) { return byte != '"'; });
    if (program.empty())
        return {page, ""};
    return {program, "\"" + page + "\""};
}

} // namespace tamberly
