// The list server's entry check against a check written independently here: an entry is host:port, at most 255
// printable ASCII characters, the host a DNS name, a dotted-quad IPv4 address or a bracketed IPv6 address (as the C
// library reads and writes it; an IPv4-mapped one stored as plain IPv4), the port 1 to 65535. An accepted entry's
// stored form is accepted as itself. Splitting an import file gives the trimmed, non-empty pieces between "*" and line
// ends.
#include "entry.h"
#include "fuzz_support.h"

#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tamberly::fuzz::require;
using tamberly::fuzz::shown;

bool digits(std::string_view s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

std::vector<std::string_view> split(std::string_view s, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = s.find(separator);
        parts.push_back(s.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        s.remove_prefix(at + 1);
    }
}

// The port's value, counted up to 65536 at most so a long run of digits cannot overflow.
bool goodPort(std::string_view port) {
    if (!digits(port))
        return false;
    unsigned value = 0;
    for (char c : port)
        value = std::min(value * 10 + static_cast<unsigned>(c - '0'), 65536u);
    return value >= 1 && value <= 65535;
}

// The C library's reading of an IPv4 address, not the server's own: four decimal parts of 0 to 255. A part with a
// leading zero is refused on top, since some resolvers read it as octal.
bool dottedQuad(std::string_view host) {
    in_addr address{};
    if (inet_pton(AF_INET, std::string(host).c_str(), &address) != 1)
        return false;
    for (auto part : split(host, '.'))
        if (part.size() > 1 && part[0] == '0')
            return false;
    return true;
}

bool dnsName(std::string_view host) {
    if (host.size() > 253)
        return false;
    const auto labels = split(host, '.');
    bool allNumbers = true;
    for (auto label : labels) {
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (char c : label) {
            const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            if (!letter && !(c >= '0' && c <= '9') && c != '-')
                return false;
        }
        allNumbers = allNumbers && digits(label);
    }
    // Numbers in every label make an address, and a number as the last label would be taken for one.
    return !allNumbers && !digits(labels.back());
}

bool valid(std::string_view raw) {
    if (raw.empty() || raw.size() > 255)
        return false;
    for (char c : raw)
        if (c < '!' || c > '~')
            return false;
    if (raw.front() == '[') {
        const auto close = raw.find(']');
        if (close == std::string_view::npos || close + 1 >= raw.size() || raw[close + 1] != ':')
            return false;
        in6_addr address{};
        return inet_pton(AF_INET6, std::string(raw.substr(1, close - 1)).c_str(), &address) == 1 &&
               goodPort(raw.substr(close + 2));
    }
    const auto colon = raw.rfind(':');
    if (colon == std::string_view::npos)
        return false;
    const auto host = raw.substr(0, colon);
    return !host.empty() && host.find(':') == std::string_view::npos && (dottedQuad(host) || dnsName(host)) &&
           goodPort(raw.substr(colon + 1));
}

bool blank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<std::string> pieces(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::vector<std::string> out;
    std::string current;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '*' && text[i] != '\r' && text[i] != '\n') {
            current += text[i];
            continue;
        }
        std::size_t begin = 0, end = current.size();
        while (begin < end && blank(current[begin]))
            ++begin;
        while (end > begin && blank(current[end - 1]))
            --end;
        if (begin < end)
            out.push_back(current.substr(begin, end - begin));
        current.clear();
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data), size);

    const auto check = tamberly::checkEntry(raw);
    require(check.ok == valid(raw), "checkEntry agrees with the independent check",
            [&] { return shown(raw) + (check.ok ? " accepted" : " refused: " + check.reason); });
    if (check.ok) {
        require(check.reason.empty() && !check.entry.empty(), "an accepted entry has a stored form and no reason");
        if (raw.front() == '[') {
            // The C library's short form of the address, or the IPv4 address an IPv4-mapped one stands for.
            in6_addr address{};
            inet_pton(AF_INET6, std::string(raw.substr(1, raw.find(']') - 1)).c_str(), &address);
            char text[INET6_ADDRSTRLEN] = {};
            inet_ntop(AF_INET6, &address, text, sizeof text);
            const std::string shortForm = text;
            const bool mapped = IN6_IS_ADDR_V4MAPPED(&address);
            const std::string host = mapped ? shortForm.substr(shortForm.rfind(':') + 1) : "[" + shortForm + "]";
            require(check.entry.rfind(host + ":", 0) == 0, "an IPv6 address is stored in its short form",
                    [&] { return shown(raw) + " -> " + shown(check.entry) + ", not " + shown(host); });
        }
        const auto again = tamberly::checkEntry(check.entry);
        require(again.ok && again.entry == check.entry, "the stored form is accepted as itself",
                [&] { return shown(raw) + " -> " + shown(check.entry) + " -> " + shown(again.entry); });
    } else {
        require(!check.reason.empty() && check.entry.empty(), "a refusal says why and stores nothing");
    }

    const auto split = tamberly::splitImportText(raw);
    const auto expected = pieces(raw);
    require(split.size() == expected.size(), "the import split finds every piece", [&] { return shown(raw); });
    int lastLine = 1;
    for (std::size_t i = 0; i < split.size(); ++i) {
        require(split[i].text == expected[i], "each import piece is the trimmed text between separators",
                [&] { return shown(split[i].text) + " instead of " + shown(expected[i]); });
        require(split[i].line >= lastLine, "import pieces come in line order");
        lastLine = split[i].line;
    }
    return 0;
}
