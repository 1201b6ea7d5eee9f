#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamberly {

/// How much of the user's own identity a working proxy passes on to the sites it fetches for them.
enum class Anonymity {
    Unknown,     // not graded (the proxy failed, or no judge was asked)
    Transparent, // the user's own address reaches the site
    Anonymous,   // the site learns that a proxy is in the way, but not whose request it is
    Elite,       // the site sees an ordinary client
};

/// Whether the proxy opens a tunnel (CONNECT) to port 443, which every HTTPS page needs.
enum class Tunnel {
    Unknown, // not tried
    Yes,     // the proxy answered 200 to CONNECT host:443
    No,      // any other answer, or none
};

/// "transparent", "anonymous", "elite"; the empty text when not graded.
const char* anonymityText(Anonymity anonymity);
/// "tunnel", "no tunnel"; the empty text when not tried.
const char* tunnelText(Tunnel tunnel);

/// What the list server's judge saw of one request: the client address and the request's header lines as they came.
struct JudgeAnswer {
    std::string clientAddress;
    std::vector<std::pair<std::string, std::string>> headers;
};

/// The judge page's plain answer: a first line "tamberly-judge ADDRESS", then each header line "Name: value".
std::string formatJudgeAnswer(const JudgeAnswer& answer);
/// Reads a judge page's answer; false when the text is not one (a portal's page, say).
bool parseJudgeAnswer(std::string_view text, JudgeAnswer& answer);

/// True for a header name that proxies add to tell a site about the client or about themselves (Via,
/// X-Forwarded-For, Forwarded, X-Real-IP, Client-IP, X-Proxy-ID and kin), compared case-blind with "_" read as "-"
/// and a CGI-style "HTTP_" prefix ignored.
bool isProxyHeader(std::string_view name);

/// Grades what the judge saw through a proxy. ownAddresses are the addresses the judge reported for direct fetches
/// (IPv4, IPv6): one of them anywhere in the answer, however it is spelt, makes the proxy transparent.
Anonymity gradeAnonymity(const JudgeAnswer& seen, const std::vector<std::string>& ownAddresses);

} // namespace tamberly
