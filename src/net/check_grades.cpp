#include "net/check_grades.h"

#include "text/ascii_text.h"

#include <algorithm>
#include <array>

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

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return out;
}

// Whether address occurs in text as a whole address, not as part of a longer one (1.2.3.4 in 11.2.3.45).
bool containsAddress(std::string_view text, std::string_view address) {
    const auto partOfAddress = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '.' || c == ':';
    };
    for (std::size_t at = text.find(address); at != std::string_view::npos; at = text.find(address, at + 1)) {
        const bool startsClean = at == 0 || !partOfAddress(text[at - 1]);
        const std::size_t end = at + address.size();
        const bool endsClean = end == text.size() || !partOfAddress(text[end]);
        if (startsClean && endsClean)
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
            answer.clientAddress = std::string(trim(line.substr(kJudgeTag.size()), " \t"));
            first = false;
            continue;
        }
        if (line.empty())
            continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return false;
        answer.headers.emplace_back(std::string(line.substr(0, colon)),
                                    std::string(trim(line.substr(colon + 1), " \t")));
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
        if (own.empty())
            continue;
        const std::string needle = lowered(own);
        if (containsAddress(lowered(seen.clientAddress), needle))
            return Anonymity::Transparent;
        for (const auto& [name, value] : seen.headers)
            if (containsAddress(lowered(value), needle))
                return Anonymity::Transparent;
    }
    for (const auto& header : seen.headers)
        if (isProxyHeader(header.first))
            return Anonymity::Anonymous;
    return Anonymity::Elite;
}

} // namespace tamberly
