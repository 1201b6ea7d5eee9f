#include "core/proxy_entry.h"

#include "text/ascii_text.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tamberly {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), isDigit);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

EntryParse refuse(std::string why) {
    return {std::nullopt, std::move(why)};
}

// 1 to 65535, leading zeros allowed; 0 when the text is not such a number.
std::uint16_t portNumber(std::string_view text) {
    if (!allDigits(text))
        return 0;
    text.remove_prefix(std::min(text.find_first_not_of('0'), text.size()));
    if (text.empty() || text.size() > 5)
        return 0;
    unsigned value = 0;
    for (const char c : text)
        value = value * 10 + static_cast<unsigned>(c - '0');
    return value <= 65535 ? static_cast<std::uint16_t>(value) : 0;
}

std::vector<std::string_view> splitOn(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

// A dotted quad without short forms or leading zeros (which some resolvers read as octal).
std::optional<std::array<std::uint8_t, 4>> ipv4(std::string_view text) {
    const auto labels = splitOn(text, '.');
    if (labels.size() != 4)
        return std::nullopt;
    std::array<std::uint8_t, 4> bytes{};
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string_view label = labels[i];
        if (!allDigits(label) || label.size() > 3 || (label.size() > 1 && label[0] == '0'))
            return std::nullopt;
        int value = 0;
        for (const char c : label)
            value = value * 10 + (c - '0');
        if (value > 255)
            return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>(value);
    }
    return bytes;
}

std::string ipv4Text(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
}

using Groups = std::array<std::uint16_t, 8>;

// Groups of 1 to 4 hex digits, "::" at most once for one or more zero groups, optionally a dotted quad as the last
// two groups; no zone index. As inet_pton reads it.
std::optional<Groups> ipv6(std::string_view text) {
    Groups groups{};
    int count = 0;
    int gap = -1; // where "::" stands, in groups
    std::size_t at = 0;
    if (text.substr(0, 2) == "::") {
        gap = 0;
        at = 2;
    } else if (!text.empty() && text[0] == ':') {
        return std::nullopt;
    }
    while (at < text.size()) {
        if (count == 8)
            return std::nullopt;
        const std::size_t start = at;
        while (at < text.size() && hexDigitValue(text[at]) >= 0 && at - start < 5)
            ++at;
        if (at < text.size() && text[at] == '.') {
            // The dotted tail: the rest of the text, as two groups.
            const auto quad = ipv4(text.substr(start));
            if (!quad || count > 6)
                return std::nullopt;
            groups[static_cast<std::size_t>(count++)] = static_cast<std::uint16_t>((*quad)[0] << 8 | (*quad)[1]);
            groups[static_cast<std::size_t>(count++)] = static_cast<std::uint16_t>((*quad)[2] << 8 | (*quad)[3]);
            at = text.size();
            break;
        }
        if (at == start || at - start > 4)
            return std::nullopt;
        unsigned value = 0;
        for (std::size_t i = start; i < at; ++i)
            value = value * 16 + static_cast<unsigned>(hexDigitValue(text[i]));
        groups[static_cast<std::size_t>(count++)] = static_cast<std::uint16_t>(value);
        if (at == text.size())
            break;
        if (text[at] != ':')
            return std::nullopt;
        ++at;
        if (at < text.size() && text[at] == ':') {
            if (gap >= 0)
                return std::nullopt;
            gap = count;
            ++at;
        } else if (at == text.size()) {
            return std::nullopt; // one ":" at the end
        }
    }
    if (gap < 0)
        return count == 8 ? std::optional<Groups>(groups) : std::nullopt;
    if (count == 8)
        return std::nullopt; // "::" must stand for at least one group
    // Move the groups after "::" to the end.
    const int tail = count - gap;
    for (int i = 0; i < tail; ++i) {
        groups[static_cast<std::size_t>(7 - i)] = groups[static_cast<std::size_t>(count - 1 - i)];
        groups[static_cast<std::size_t>(count - 1 - i)] = 0;
    }
    return groups;
}

// RFC 5952: lower-case hex without leading zeros, the longest run of two or more zero groups (the first of equal
// runs) as "::". Six zero groups followed by an address print that address dotted, as inet_ntop does.
std::string ipv6Text(const Groups& g) {
    int bestStart = -1, bestLength = 0;
    for (int i = 0; i < 8;) {
        if (g[static_cast<std::size_t>(i)] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && g[static_cast<std::size_t>(j)] == 0)
            ++j;
        if (j - i > bestLength && j - i >= 2) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j;
    }
    if (bestStart == 0 && bestLength == 6)
        return "::" + ipv4Text(static_cast<std::uint8_t>(g[6] >> 8), static_cast<std::uint8_t>(g[6] & 0xFF),
                               static_cast<std::uint8_t>(g[7] >> 8), static_cast<std::uint8_t>(g[7] & 0xFF));
    std::string out;
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            out += "::";
            i += bestLength - 1;
            continue;
        }
        if (!out.empty() && out.back() != ':')
            out += ':';
        const std::uint16_t v = g[static_cast<std::size_t>(i)];
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const int digit = (v >> shift) & 0xF;
            if (digit || started || shift == 0) {
                out += "0123456789abcdef"[digit];
                started = true;
            }
        }
    }
    return out;
}

bool isDnsName(std::string_view host, const std::vector<std::string_view>& labels) {
    if (host.size() > 253)
        return false;
    for (const auto label : labels) {
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        if (!std::all_of(label.begin(), label.end(), [](char c) { return isLetter(c) || isDigit(c) || c == '-'; }))
            return false;
    }
    // A name whose last label is a number would be taken for an address.
    return !allDigits(labels.back());
}

constexpr std::string_view kSocksPrefix = "socks5://";
constexpr std::string_view kHttpPrefix = "http://";

} // namespace

std::string ProxyEntry::hostPort() const {
    const std::string shown = hostKind == HostKind::Ipv6 ? "[" + host + "]" : host;
    return shown + ":" + std::to_string(port);
}

std::string ProxyEntry::text() const {
    return (scheme == ProxyScheme::Socks5 ? std::string(kSocksPrefix) : std::string()) + hostPort();
}

HostPortSplit splitHostPort(std::string_view text) {
    HostPortSplit split;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos)
            split.why = "IPv6 address is missing its closing ']'";
        else if (close + 1 >= text.size() || text[close + 1] != ':')
            split.why = "proxy entry must be host:port";
        else
            split = {text.substr(1, close - 1), text.substr(close + 2), true, {}};
        return split;
    }
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos)
        split.why = "proxy entry must be host:port";
    else if (text.substr(0, colon).find(':') != std::string_view::npos)
        split.why = "an IPv6 address must be put in brackets, as in [2001:db8::1]:8080";
    else
        split = {text.substr(0, colon), text.substr(colon + 1), false, {}};
    return split;
}

EntryParse parseProxyEntry(std::string_view text) {
    if (text.empty())
        return refuse("empty proxy entry");
    for (const char c : text)
        if (c <= ' ' || c > '~')
            return refuse("proxy entry holds a blank, a control character or a character outside ASCII");

    ProxyEntry entry;
    if (startsWithNoCase(text, kHttpPrefix)) {
        text.remove_prefix(kHttpPrefix.size());
    } else if (startsWithNoCase(text, kSocksPrefix)) {
        text.remove_prefix(kSocksPrefix.size());
        entry.scheme = ProxyScheme::Socks5;
    }

    const HostPortSplit split = splitHostPort(text);
    if (!split.why.empty())
        return refuse(split.why);
    if (split.bracketed) {
        const auto groups = ipv6(split.host);
        if (!groups)
            return refuse("IPv6 address is not valid");
        const Groups& g = *groups;
        if (g[0] == 0 && g[1] == 0 && g[2] == 0 && g[3] == 0 && g[4] == 0 && g[5] == 0xFFFF) {
            // An IPv4-mapped address is that IPv4 address: one proxy, one row.
            entry.hostKind = ProxyEntry::HostKind::Ipv4;
            entry.host = ipv4Text(static_cast<std::uint8_t>(g[6] >> 8), static_cast<std::uint8_t>(g[6] & 0xFF),
                                  static_cast<std::uint8_t>(g[7] >> 8), static_cast<std::uint8_t>(g[7] & 0xFF));
        } else {
            entry.hostKind = ProxyEntry::HostKind::Ipv6;
            entry.host = ipv6Text(g);
        }
    } else {
        const std::string_view host = split.host;
        if (host.empty())
            return refuse("host is missing");
        const auto labels = splitOn(host, '.');
        if (std::all_of(labels.begin(), labels.end(), allDigits)) {
            if (!ipv4(host))
                return refuse("IPv4 address is not valid");
            entry.hostKind = ProxyEntry::HostKind::Ipv4;
        } else if (!isDnsName(host, labels)) {
            return refuse("host name is not valid");
        }
        // Host names are case-blind: one proxy, one form.
        entry.host = lowerAscii(host);
    }
    entry.port = portNumber(split.port);
    if (entry.port == 0)
        return refuse("port must be a number from 1 to 65535");
    return {std::move(entry), {}};
}

ServersParse parseProxyServers(std::string_view text) {
    if (text.find('=') == std::string_view::npos) {
        EntryParse parsed = parseProxyEntry(text);
        if (!parsed.entry)
            return {std::nullopt, std::move(parsed.why)};
        ProxyServers servers;
        if (parsed.entry->scheme == ProxyScheme::Socks5)
            servers.socks = parsed.entry;
        else
            servers.http = servers.https = servers.ftp = parsed.entry;
        return {servers, {}};
    }
    ProxyServers servers;
    for (const std::string_view rawPart : splitOn(text, ';')) {
        const std::string_view part = trim(rawPart, " \t");
        if (part.empty())
            continue;
        const auto equals = part.find('=');
        if (equals == std::string_view::npos)
            return {std::nullopt, "a plain proxy is mixed with per-protocol ones"};
        const std::string protocol = lowerAscii(trim(part.substr(0, equals), " \t"));
        std::optional<ProxyEntry>* slot = protocol == "http"    ? &servers.http
                                          : protocol == "https" ? &servers.https
                                          : protocol == "ftp"   ? &servers.ftp
                                          : protocol == "socks" ? &servers.socks
                                                                : nullptr;
        if (!slot)
            continue; // protocols no desktop has a setting for (gopher, ...)
        const std::string_view value = trim(part.substr(equals + 1), " \t");
        if (value.empty())
            continue;
        EntryParse parsed = parseProxyEntry(value);
        if (!parsed.entry)
            return {std::nullopt, protocol + ": " + parsed.why};
        parsed.entry->scheme = slot == &servers.socks ? ProxyScheme::Socks5 : ProxyScheme::Http;
        *slot = std::move(parsed.entry);
    }
    if (servers.empty())
        return {std::nullopt, "no protocol has a proxy"};
    return {servers, {}};
}

std::string formatProxyServers(const ProxyServers& servers) {
    const auto sameProxy = [](const std::optional<ProxyEntry>& a, const std::optional<ProxyEntry>& b) {
        return a.has_value() == b.has_value() && (!a || a->hostPort() == b->hostPort());
    };
    if (servers.http && sameProxy(servers.http, servers.https) && sameProxy(servers.http, servers.ftp) &&
        !servers.socks)
        return servers.http->hostPort();
    std::string out;
    const std::pair<const char*, const std::optional<ProxyEntry>*> parts[] = {
        {"http", &servers.http}, {"https", &servers.https}, {"ftp", &servers.ftp}, {"socks", &servers.socks}};
    for (const auto& [name, proxy] : parts) {
        if (!*proxy)
            continue;
        if (!out.empty())
            out += ';';
        out += std::string(name) + "=" + (*proxy)->hostPort();
    }
    return out;
}

bool isProxyAddress(std::string_view row) {
    return parseProxyServers(row).servers.has_value();
}

} // namespace tamberly
