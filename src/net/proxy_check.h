#pragma once

#include "core/proxy_entry.h"
#include "net/check_grades.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamberly {

/// What a check found out about one entry.
enum class Verdict {
    Works,          // a 2xx answer with the test URL's own body
    Refused,        // no connection, or the connection closed or failed before any answer
    UnknownHost,    // the proxy's name did not resolve; nothing was sent
    TimedOut,       // no whole answer within the time limit
    NeedsPassword,  // the proxy answered 407 (or a SOCKS proxy asked for a login)
    WrongAnswer,    // an answer, but not a 2xx with the test URL's body (a portal, block or error page), or one that
                    // breaks HTTP (a malformed status line, a header block too long or never ended)
    NotCheckedHere, // a kind of proxy this system's HTTP client cannot use (SOCKS on Windows); nothing was sent
    BadEntry,       // not host:port; nothing was sent
};

/// The verdict's word, as the window and tamberly-check show it.
const char* verdictText(Verdict verdict);

/// Reads one entry of a list for the check: blanks, tabs and line breaks around it are ignored (a list text may hold
/// them between entries); the rest must be a proxy entry (host:port, http://host:port or socks5://host:port).
std::optional<ProxyEntry> parseCheckEntry(std::string_view entry);

/// The proxy URL handed to the transfer: "http://host:port", or "socks5h://host:port" so that the proxy, not this
/// machine, looks up the test URL's host.
std::string proxyUrl(const ProxyEntry& entry);

struct CheckResult {
    Verdict verdict = Verdict::BadEntry;
    /// Milliseconds to the connection with the proxy, and to the whole answer (or to the failure); -1 when no
    /// request was made.
    long connectMs = -1;
    long totalMs = -1;
    /// Graded only for a working proxy, and only when the page names a judge or a tunnel host.
    Anonymity anonymity = Anonymity::Unknown;
    Tunnel tunnel = Tunnel::Unknown;
};

/// The page a check fetches, and what its answer must hold.
struct TestPage {
    TestPage() = default;
    // A constructor rather than an aggregate: pages made before grades existed name only the first two.
    TestPage(std::string url, std::string expect, std::string judgeUrl = {}, std::string tunnelHost = {})
        : url(std::move(url)), expect(std::move(expect)), judgeUrl(std::move(judgeUrl)),
          tunnelHost(std::move(tunnelHost)) {}

    std::string url;
    /// A text the body must contain, fetched directly and through each proxy alike. Empty: the direct fetch may
    /// answer any 2xx, and a proxy must pass on the same body.
    std::string expect;
    /// The list server's judge (plain http), fetched directly for the user's own address and through each working
    /// proxy to grade its anonymity. Empty, or not http: no anonymity grade.
    std::string judgeUrl;
    /// The host a working proxy is asked to open a tunnel to (CONNECT host:443). Empty: no tunnel grade.
    std::string tunnelHost;

    /// The fetch without any proxy that comes before the entries'.
    enum class Direct {
        First, // fetched first, and it must answer as the page should before any entry is asked
        Skip,  // not fetched: only with an expected text, since there is no direct body to compare with
        Only,  // fetched alone: the entries are not asked, and ok tells whether the page answered
    };
    Direct direct = Direct::First;
};

struct CheckLimits {
    /// For each entry: the limit to connect and the limit for the whole request.
    std::chrono::milliseconds timeLimit{5000};
    /// Transfers running at once.
    int atOnce = 128;
    /// The most read of any answer's body; a longer body is a wrong answer.
    std::size_t maxBodyBytes = 4096;
    /// The most read of any answer's header lines, all blocks together; more is a wrong answer.
    std::size_t maxHeaderBytes = 32 * 1024;
};

/// Checks proxy entries concurrently from the calling thread: one GET of the test page through each entry, after
/// one direct GET of the same page, which must answer as the page should. A working entry is then graded: the judge
/// fetched through it (after direct fetches over IPv4 and IPv6 that give the user's own addresses) and a CONNECT to
/// the tunnel host's port 443, closed as soon as the proxy answers. Never touches the proxy in force, ignores proxy
/// settings of the environment, and sends nothing anywhere but to the entries, the test page and the judge.
class ProxyCheck final {
public:
    explicit ProxyCheck(TestPage page, CheckLimits limits = {});
    ~ProxyCheck();
    ProxyCheck(const ProxyCheck&) = delete;
    ProxyCheck& operator=(const ProxyCheck&) = delete;

    struct Outcome {
        /// False when the direct GET of the test URL failed (error says why) or the check was cancelled.
        bool ok = false;
        bool cancelled = false;
        std::string error;
        /// One result per entry, in the entries' order; complete only when ok.
        std::vector<CheckResult> results;
    };
    /// Called on the checking thread once for each entry, when its whole result (grades too) is known.
    using Progress = std::function<void(std::size_t index, const CheckResult& result)>;

    /// Checks the entries and returns when all are done. An entry given more than once is checked once.
    Outcome run(const std::vector<std::string>& entries, const Progress& progress = {});

    /// From any thread: makes a running (or the next) run() return at once, abandoning its transfers.
    void cancel();

private:
    TestPage m_page;
    CheckLimits m_limits;
    std::atomic<bool> m_cancelled{false};
    // The running transfers' handle, woken by cancel(); guarded so it is never woken after it is gone.
    std::mutex m_multiMutex;
    void* m_multi = nullptr;
};

} // namespace tamberly
