#include "net/list_server_client.h"

#include "text/ascii_text.h"
#include "text/utf8.h"

namespace tamberly {
namespace {

// C0, DEL and C1 controls, and the invisible marks that change the direction or flow of the text around them.
bool isControl(long code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x061C || code == 0x200E || code == 0x200F ||
           (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

} // namespace

namespace list_server {

std::string listUrl(const std::string& base) {
    return base + "/Tamberly/update.php";
}

// Encoded, so a blank, "&" or "#" in the entry can neither cut the request short nor add parameters to it.
std::string submitUrl(const std::string& base, std::string_view entry) {
    return base + "/Tamberly/addproxy.php?proxy=" + encodeQueryValue(entry);
}

std::string reportUrl(const std::string& base, std::string_view entry) {
    return base + "/Tamberly/deadproxy.php?proxy=" + encodeQueryValue(entry);
}

std::string pageUrl(const std::string& base) {
    return base + "/Tamberly/index.php";
}

} // namespace list_server

std::string encodeQueryValue(std::string_view text) {
    return percentEncode(text, [](unsigned char byte) {
        return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
               byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == ':';
    });
}

std::string serverReasonLine(const std::string& reason) {
    const std::string firstLine = reason.substr(0, reason.find_first_of("\r\n"));
    std::string line;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < firstLine.size() && characters < kMaxReasonCharacters;) {
        const std::size_t start = i;
        const long code = nextCodePoint(firstLine, i);
        if (code < 0 || isControl(code) || (code == ' ' && line.empty()))
            continue;
        line.append(firstLine, start, i - start);
        ++characters;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

std::string transferFailureText(const TransferResult& result) {
    const std::string reason = serverReasonLine(result.serverReason);
    return reason.empty() ? result.error : reason + " (" + result.error + ")";
}

} // namespace tamberly
