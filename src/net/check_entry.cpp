// The parts of the proxy check that every engine shares: the verdicts' words and how an entry is read.
#include "net/proxy_check.h"

#include "text/ascii_text.h"

namespace tamberly {

const char* verdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::Works:
        return "works";
    case Verdict::Refused:
        return "refused";
    case Verdict::UnknownHost:
        return "unknown host";
    case Verdict::TimedOut:
        return "timed out";
    case Verdict::NeedsPassword:
        return "needs password";
    case Verdict::WrongAnswer:
        return "wrong answer";
    case Verdict::NotCheckedHere:
        return "not checked here";
    case Verdict::BadEntry:
        return "bad entry";
    }
    return "?";
}

std::optional<ProxyEntry> parseCheckEntry(std::string_view entry) {
    return parseProxyEntry(trim(entry, " \t\r\n")).entry;
}

std::string proxyUrl(const ProxyEntry& entry) {
    return (entry.scheme == ProxyScheme::Socks5 ? "socks5h://" : "http://") + entry.hostPort();
}

} // namespace tamberly
