#include "net/check_grades.h"

#include "text/ascii_text.h"

#include <algorithm>
#include <array>
#include <optional>

namespace tamberly {
namespace {

constexpr std::string_view kJudgeTag = "tamberly-judge ";

// The header's name as compared: lower case, "_" as "-", without a CGI-style "http-" prefix.
std::string canonicalName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (const char c : name)
        out.push_back(c == '_' ? '-' : static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    if (out.rfind("http-", 0) == 0)
        out.erase(0, 5);
    return out;
}

using Address = std::array<unsigned char, 16>;

// An IPv4 address as its IPv4-mapped IPv6 form, so that "::ffff:1.2.3.4" and "1.2.3.4" are the same.
std::optional<Address> parseIpv4(std::string_view text) {
    Address out{};
    out[10] = out[11] = 0xff;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? text.find('.') : text.size();
        const std::string_view digits = text.substr(0, dot);
        if (dot == std::string_view::npos || digits.empty() || digits.size() > 3 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos)
            return std::nullopt;
        const int value = std::stoi(std::string(digits));
        if (value > 255)
            return std::nullopt;
        out[12 + part] = static_cast<unsigned char>(value);
        text.remove_prefix(part < 3 ? dot + 1 : dot);
    }
    return out;
}

// The 16-bit groups of one side of an IPv6 address ("2001:db8", or "ffff:1.2.3.4" at the end); false when malformed.
bool ipv6Groups(std::string_view text, bool last, std::vector<unsigned>& groups) {
    if (text.empty())
        return true;
    while (true) {
        const std::size_t colon = text.find(':');
        const std::string_view group = text.substr(0, colon);
        if (colon == std::string_view::npos && last && group.find('.') != std::string_view::npos) {
            const auto v4 = parseIpv4(group);
            if (!v4)
                return false;
            groups.push_back(unsigned((*v4)[12]) << 8 | (*v4)[13]);
            groups.push_back(unsigned((*v4)[14]) << 8 | (*v4)[15]);
            return true;
        }
        if (group.empty() || group.size() > 4)
            return false;
        unsigned value = 0;
        for (const char c : group) {
            const int digit = hexDigitValue(c);
            if (digit < 0)
                return false;
            value = value << 4 | unsigned(digit);
        }
        groups.push_back(value);
        if (colon == std::string_view::npos)
            return true;
        text.remove_prefix(colon + 1);
    }
}

// An IPv4 or IPv6 address in any of its spellings (upper or lower case, leading zeros, "::" or not).
std::optional<Address> parseAddress(std::string_view text) {
    if (text.find(':') == std::string_view::npos)
        return parseIpv4(text);
    const std::size_t gap = text.find("::");
    std::vector<unsigned> head, tail;
    if (gap == std::string_view::npos) {
        if (!ipv6Groups(text, true, head) || head.size() != 8)
            return std::nullopt;
    } else if (text.find("::", gap + 1) != std::string_view::npos || !ipv6Groups(text.substr(0, gap), false, head) ||
               !ipv6Groups(text.substr(gap + 2), true, tail) || head.size() + tail.size() > 7) {
        return std::nullopt;
    }
    head.resize(8 - tail.size(), 0);
    head.insert(head.end(), tail.begin(), tail.end());
    Address out{};
    for (std::size_t i = 0; i < 8; ++i) {
        out[2 * i] = static_cast<unsigned char>(head[i] >> 8);
        out[2 * i + 1] = static_cast<unsigned char>(head[i] & 0xff);
    }
    return out;
}

// Whether text names the address anywhere, however it is spelt: in a list, in brackets, with a port.
bool mentionsAddress(std::string_view text, const Address& address) {
    const auto partOfAddress = [](char c) { return hexDigitValue(c) >= 0 || c == '.' || c == ':'; };
    std::size_t at = 0;
    while (at < text.size()) {
        if (!partOfAddress(text[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && partOfAddress(text[end]))
            ++end;
        const std::string_view word = text.substr(at, end - at);
        at = end;
        if (parseAddress(word) == address)
            return true;
        // "1.2.3.4:8080": an IPv4 address with its port.
        const std::size_t colon = word.find(':');
        if (colon != std::string_view::npos && word.find(':', colon + 1) == std::string_view::npos &&
            parseIpv4(word.substr(0, colon)) == address)
            return true;
    }
    return false;
}

} // namespace

const char* anonymityText(Anonymity anonymity) {
    switch (anonymity) {
    case Anonymity::Transparent:
        return "transparent";
    case Anonymity::Anonymous:
        return "anonymous";
    case Anonymity::Elite:
        return "elite";
    case Anonymity::Unknown:
        break;
    }
    return "";
}

const char* tunnelText(Tunnel tunnel) {
    switch (tunnel) {
    case Tunnel::Yes:
        return "tunnel";
    case Tunnel::No:
        return "no tunnel";
    case Tunnel::Unknown:
        break;
    }
    return "";
}

std::string formatJudgeAnswer(const JudgeAnswer& answer) {
    std::string text(kJudgeTag);
    text += answer.clientAddress;
    text += '\n';
    for (const auto& [name, value] : answer.headers) {
        text += name;
        text += ": ";
        text += value;
        text += '\n';
    }
    return text;
}

bool parseJudgeAnswer(std::string_view text, JudgeAnswer& answer) {
    answer = {};
    if (text.substr(0, kJudgeTag.size()) != kJudgeTag)
        return false;
    bool first = true;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        line = trim(line, "\r");
        if (first) {
            answer.clientAddress = std::string(trim(line.substr(kJudgeTag.size()), " \t\r"));
            first = false;
            continue;
        }
        if (line.empty())
            continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return false;
        answer.headers.emplace_back(std::string(line.substr(0, colon)),
                                    std::string(trim(line.substr(colon + 1), " \t\r")));
    }
    return !answer.clientAddress.empty();
}

bool isProxyHeader(std::string_view name) {
    static constexpr std::array<std::string_view, 22> kNames = {
        "via",
        "x-via",
        "forwarded",
        "forwarded-for",
        "x-forwarded",
        "x-forwarded-for",
        "x-forwarded-host",
        "x-forwarded-server",
        "x-forwarded-proto",
        "x-real-ip",
        "client-ip",
        "x-client-ip",
        "x-proxy-id",
        "proxy-client-ip",
        "wl-proxy-client-ip",
        "x-proxyuser-ip",
        "x-originating-ip",
        "x-cluster-client-ip",
        "x-bluecoat-via",
        "proxy-connection",
        "x-coming-from",
        "coming-from",
    };
    const std::string canonical = canonicalName(name);
    return std::find(kNames.begin(), kNames.end(), canonical) != kNames.end();
}

Anonymity gradeAnonymity(const JudgeAnswer& seen, const std::vector<std::string>& ownAddresses) {
    for (const std::string& own : ownAddresses) {
        const auto address = parseAddress(trim(own, " \t[]"));
        if (!address)
            continue;
        if (mentionsAddress(seen.clientAddress, *address))
            return Anonymity::Transparent;
        // Host names the judge, as the check wrote it: a judge on the user's own machine is no proxy's doing.
        for (const auto& header : seen.headers)
            if (!equalsIgnoringCase(header.first, "Host") && mentionsAddress(header.second, *address))
                return Anonymity::Transparent;
    }
    for (const auto& header : seen.headers)
        if (isProxyHeader(header.first))
            return Anonymity::Anonymous;
    return Anonymity::Elite;
}

} // namespace tamberly
