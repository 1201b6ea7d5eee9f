#include "text/ascii_text.h"

namespace tamberly {

std::string_view trim(std::string_view text, std::string_view blanks) {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowerAscii(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered)
        c = lowerAscii(c);
    return lowered;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::vector<std::string_view> splitList(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    if (text.empty())
        return pieces;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return pieces;
        start = end + 1;
    }
}

std::string percentEncode(std::string_view text, bool (*keep)(unsigned char byte)) {
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (keep(byte)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kUpperHexDigits[byte >> 4];
            encoded += kUpperHexDigits[byte & 0x0F];
        }
    }
    return encoded;
}

std::string shownLine(std::string_view value) {
    constexpr std::size_t kLongest = 40;
    const std::string_view trimmed = trim(value);
    std::string text;
    for (const char c : trimmed)
        if (c >= 0x20 && c < 0x7f && text.size() < kLongest)
            text += c;
    return text.size() < trimmed.size() ? text + "..." : text;
}

} // namespace tamberly
