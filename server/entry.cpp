#include "entry.h"

#include "text/ascii_text.h"

#include <arpa/inet.h>

#include <algorithm>

namespace tamberly {
namespace {

EntryCheck refuse(std::string reason) {
    return {false, {}, std::move(reason)};
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), isDigit);
}

// Port in its stored form (no leading zeros), or empty when it is not 1 to 65535.
std::string normalPort(std::string_view port) {
    if (!allDigits(port))
        return {};
    const auto first = port.find_first_not_of('0');
    if (first == std::string_view::npos)
        return {};
    port.remove_prefix(first);
    if (port.size() > 5 || std::stoul(std::string(port)) > 65535)
        return {};
    return std::string(port);
}

std::vector<std::string_view> splitLabels(std::string_view host) {
    std::vector<std::string_view> labels;
    std::size_t start = 0;
    while (true) {
        const auto dot = host.find('.', start);
        labels.push_back(host.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos)
            return labels;
        start = dot + 1;
    }
}

// Dotted quad only: shorter forms and leading zeros (read as octal by some resolvers) are refused.
bool isIpv4(const std::vector<std::string_view>& labels) {
    if (labels.size() != 4)
        return false;
    for (auto label : labels) {
        if (!allDigits(label) || label.size() > 3 || (label.size() > 1 && label[0] == '0'))
            return false;
        if (std::stoi(std::string(label)) > 255)
            return false;
    }
    return true;
}

bool isDnsName(std::string_view host, const std::vector<std::string_view>& labels) {
    if (host.size() > 253)
        return false;
    for (auto label : labels) {
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        if (!std::all_of(label.begin(), label.end(), [](char c) { return isLetter(c) || isDigit(c) || c == '-'; }))
            return false;
    }
    // A name whose last label is a number would be taken for an address.
    return !allDigits(labels.back());
}

} // namespace

EntryCheck checkEntry(std::string_view raw) {
    if (raw.empty())
        return refuse("empty proxy entry");
    if (raw.size() > kMaxEntryLength)
        return refuse("proxy entry is longer than 255 characters");
    for (char c : raw) {
        if (c <= ' ' || c > '~')
            return refuse("proxy entry holds a blank, a control character or a character outside ASCII");
    }

    std::string_view host;
    std::string_view port;
    std::string storedHost;
    if (raw.front() == '[') {
        const auto close = raw.find(']');
        if (close == std::string_view::npos)
            return refuse("IPv6 address is missing its closing ']'");
        if (close + 1 >= raw.size() || raw[close + 1] != ':')
            return refuse("proxy entry must be host:port");
        host = raw.substr(1, close - 1);
        port = raw.substr(close + 2);
        in6_addr address{};
        char text[INET6_ADDRSTRLEN] = {};
        if (inet_pton(AF_INET6, std::string(host).c_str(), &address) != 1 ||
            !inet_ntop(AF_INET6, &address, text, sizeof text))
            return refuse("IPv6 address is not valid");
        storedHost = std::string("[") + text + "]";
    } else {
        const auto colon = raw.rfind(':');
        if (colon == std::string_view::npos)
            return refuse("proxy entry must be host:port");
        host = raw.substr(0, colon);
        port = raw.substr(colon + 1);
        if (host.find(':') != std::string_view::npos)
            return refuse("an IPv6 address must be put in brackets, as in [2001:db8::1]:8080");
        if (host.empty())
            return refuse("host is missing");
        const auto labels = splitLabels(host);
        const bool numeric = std::all_of(labels.begin(), labels.end(), allDigits);
        if (numeric) {
            if (!isIpv4(labels))
                return refuse("IPv4 address is not valid");
        } else if (!isDnsName(host, labels)) {
            return refuse("host name is not valid");
        }
        storedHost = host;
        // Host names are case-blind, so one proxy gets one row whatever case it was typed in.
        std::transform(storedHost.begin(), storedHost.end(), storedHost.begin(),
                       [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    }

    const auto storedPort = normalPort(port);
    if (storedPort.empty())
        return refuse("port must be a number from 1 to 65535");
    return {true, storedHost + ":" + storedPort, {}};
}

std::vector<ImportPiece> splitImportText(std::string_view text) {
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    if (text.substr(0, bom.size()) == bom)
        text.remove_prefix(bom.size());

    std::vector<ImportPiece> pieces;
    std::string current;
    int line = 1;
    int pieceLine = 1;
    auto finish = [&] {
        if (const std::string_view piece = trim(current, " \t"); !piece.empty())
            pieces.push_back({std::string(piece), pieceLine});
        current.clear();
        pieceLine = line;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '*' || c == '\r' || c == '\n') {
            // A CR LF pair ends one line, not two.
            if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')))
                ++line;
            finish();
        } else {
            if (current.empty())
                pieceLine = line;
            current += c;
        }
    }
    finish();
    return pieces;
}

} // namespace tamberly
