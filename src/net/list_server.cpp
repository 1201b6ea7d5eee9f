#include "net/list_server.h"

#include "storage/ini_file.h"

namespace tamberly {

std::string listServerUrl(const std::string& iniPath) {
    std::string url = ReadINI("Server", "URL", iniPath);
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    return url.empty() ? kDefaultListServerUrl : url;
}

std::string encodeQueryValue(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~' ||
                           byte == ':';
        if (plain) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

} // namespace tamberly
