#include "proxy_verifier.h"

#include "core/proxy_entry.h"
#include "entry.h"
#include "ip_address.h"
#include "list_service.h"
#include "net/proxy_check.h"
#include "proxy_store.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <ctime>
#include <exception>
#include <future>

namespace tamberly {
namespace {

constexpr const char* kCheckPath = "/Tamberly/check.php";
constexpr const char* kCheckBody = "tamberly-check-ok";
constexpr auto kIdleWait = std::chrono::milliseconds(500);

std::int64_t systemTime() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::string withPort(const IpAddress& address, std::string_view port) {
    return (address.v4 ? address.text() : "[" + address.text() + "]") + ":" + std::string(port);
}

// Beyond what the list refuses: ranges no proxy out there has, and IPv6 ranges that carry an IPv4 address inside
// (IPv4-compatible, NAT64, 6to4, Teredo), through which a check could reach a private IPv4 address.
const char* const kReservedForChecks[] = {
    "192.0.0.0/24",   "192.0.2.0/24", "198.18.0.0/15", "198.51.100.0/24", "203.0.113.0/24", "::/96",     "64:ff9b::/96",
    "64:ff9b:1::/48", "100::/64",     "2001::/23",     "2001:db8::/32",   "2002::/16",      "fec0::/10",
};

// Why a check may not connect to the address, or empty when it may.
std::string addressFault(const IpAddress& address, const std::string& target, bool allowPrivate) {
    if (std::string fault = listPolicyFault(target, allowPrivate); !fault.empty())
        return fault;
    if (allowPrivate)
        return {};
    for (const char* range : kReservedForChecks) {
        if (parseIpRange(range)->contains(address))
            return std::string("a reserved address (") + range + ")";
    }
    return {};
}

} // namespace

PinnedEntry pinEntry(const std::string& entry, bool allowPrivate) {
    const HostPortSplit split = splitHostPort(entry);
    if (!split.why.empty())
        return {{}, "not an entry in stored form"};
    if (const auto literal = parseIpAddress(split.host)) {
        const std::string target = withPort(*literal, split.port);
        const std::string fault = addressFault(*literal, target, allowPrivate);
        return fault.empty() ? PinnedEntry{target, {}} : PinnedEntry{{}, "not checked: " + fault};
    }
    if (const std::string fault = listPolicyFault(entry, allowPrivate); !fault.empty())
        return {{}, "not checked: " + fault};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string host(split.host);
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        if (found)
            ::freeaddrinfo(found);
        return {{}, "the name " + host + " does not resolve"};
    }
    PinnedEntry pinned;
    for (const addrinfo* at = found; at; at = at->ai_next) {
        char text[NI_MAXHOST] = "";
        if (::getnameinfo(at->ai_addr, at->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
            continue;
        const auto address = parseIpAddress(text);
        if (!address)
            continue;
        const std::string target = withPort(*address, split.port);
        // Every address counts: a name that also leads into a private network is not checked at all.
        if (const std::string fault = addressFault(*address, target, allowPrivate); !fault.empty()) {
            pinned = {{}, "not checked: " + host + " resolves to " + address->text() + ", " + fault};
            break;
        }
        if (pinned.target.empty())
            pinned.target = target;
    }
    ::freeaddrinfo(found);
    if (pinned.target.empty() && pinned.refusal.empty())
        pinned.refusal = "the name " + host + " does not resolve";
    if (!pinned.refusal.empty())
        pinned.target.clear();
    return pinned;
}

ProxyVerifier::ProxyVerifier(ListService& service, VerifyOptions options, std::function<void(const std::string&)> log)
    : m_service(service), m_options(std::move(options)), m_log(std::move(log)) {
    CheckLimits limits;
    limits.timeLimit = m_options.timeLimit;
    limits.atOnce = m_options.atOnce;
    m_check = std::make_unique<ProxyCheck>(TestPage{m_options.publicUrl + kCheckPath, kCheckBody, {}, {}}, limits);
}

ProxyVerifier::~ProxyVerifier() = default;

void ProxyVerifier::run() {
    std::string lastError;
    while (true) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
        }
        bool busy = false;
        try {
            busy = checkDue();
            lastError.clear();
        } catch (const std::exception& error) {
            // Told once, not every round, while the database or the test page stays out of reach.
            if (error.what() != lastError)
                m_log(std::string("proxy check: ") + error.what());
            lastError = error.what();
        }
        if (busy)
            continue;
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, kIdleWait, [this] { return m_stopping || m_woken; });
        m_woken = false;
    }
}

void ProxyVerifier::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_check->cancel();
}

void ProxyVerifier::wake() {
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_wake.notify_all();
}

bool ProxyVerifier::checkDue() {
    const std::int64_t now = systemTime();
    // Long enough for a whole round of checks; a server that dies holding entries leaves them to the others then.
    const std::int64_t lease = std::max<std::int64_t>(60, 4 * m_options.timeLimit.count() / 1000);
    const auto taken = m_service.takeDueChecks(now, lease, m_options.atOnce, m_options.recheck);
    if (taken.empty())
        return false;

    std::vector<CheckReport> reports(taken.size());
    std::vector<std::string> targets;
    std::vector<std::size_t> checked; // index in taken of each target
    // Names are resolved side by side: one slow name server must not hold up the whole round.
    std::vector<std::future<PinnedEntry>> resolving;
    for (const auto& entry : taken)
        resolving.push_back(std::async(std::launch::async, pinEntry, entry, m_options.allowPrivateEntries));
    for (std::size_t i = 0; i < taken.size(); ++i) {
        const PinnedEntry pinned = resolving[i].get();
        if (pinned.target.empty()) {
            reports[i].note = pinned.refusal;
            continue;
        }
        targets.push_back(pinned.target);
        checked.push_back(i);
    }
    if (!targets.empty()) {
        const auto outcome = m_check->run(targets);
        if (outcome.cancelled)
            return false;
        if (!outcome.ok) // the test page itself is out of reach: no entry is to blame; tried again after the lease
            throw std::runtime_error("no proxy checked: the check page is out of reach (see --public-url): " +
                                     outcome.error);
        for (std::size_t k = 0; k < checked.size(); ++k) {
            const CheckResult& result = outcome.results[k];
            CheckReport& report = reports[checked[k]];
            report.works = result.verdict == Verdict::Works;
            report.ms = result.totalMs;
            report.note = verdictText(result.verdict);
        }
    }
    const std::int64_t done = systemTime();
    for (std::size_t i = 0; i < taken.size(); ++i) {
        CheckReport& report = reports[i];
        report.now = done;
        report.nextDue = done + m_options.recheck;
        report.publish = !m_options.moderate;
        if (m_service.recordCheck(taken[i], report))
            m_log("withdrew " + taken[i] + ": " + report.note);
    }
    return true;
}

} // namespace tamberly
