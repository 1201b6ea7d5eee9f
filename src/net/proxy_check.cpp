#include "net/proxy_check.h"

#include "net/curl_library.h"
#include "text/ascii_text.h"

#include <curl/curl.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>

namespace tamberly {
namespace {

// libcurl, which run() has loaded before any transfer.
const CurlLibrary& curl() {
    std::string unused;
    return *loadCurl(unused);
}

// What a transfer is for: the direct fetches that come first, then the test page through an entry and, for a
// working one, its grades.
enum class Task { DirectPage, DirectJudge4, DirectJudge6, Page, Judge, Tunnel };

// One transfer slot: an easy handle reused for transfer after transfer, so memory stays bounded by the transfers at
// once.
struct Slot {
    CURL* easy = nullptr;
    std::string body;
    bool overflow = false;
    std::size_t maxBody = 0;
    std::size_t headerBytes = 0;
    std::size_t maxHeader = 0;
    // The header lines ran over the limit: a flood, whatever it was meant to be.
    bool headerOverflow = false;
    // A status line came: the other side answered, whatever followed.
    bool answered = false;
    // Inside a header block, between its status line and the blank line that ends it.
    bool inHeaders = false;
    Task task = Task::Page;
    std::size_t job = 0;

    ~Slot() {
        if (easy)
            curl().easy_cleanup(easy);
    }
};

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* slot = static_cast<Slot*>(user);
    const std::size_t bytes = size * count;
    if (slot->body.size() + bytes > slot->maxBody) {
        // Whatever it is, it is not the small answer the test URL gives: stop reading.
        slot->overflow = true;
        return 0;
    }
    slot->body.append(data, bytes);
    return bytes;
}

std::size_t collectHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* slot = static_cast<Slot*>(user);
    const std::size_t bytes = size * count;
    slot->headerBytes += bytes;
    if (slot->headerBytes > slot->maxHeader) {
        slot->headerOverflow = true;
        return 0;
    }
    const std::string_view line(data, bytes);
    if (line == "\r\n" || line == "\n") {
        slot->inHeaders = false;
    } else if (!slot->inHeaders) {
        slot->inHeaders = true;
        slot->answered = true;
    }
    return bytes;
}

// Sets every option of one GET; proxy empty means direct. Returns false when libcurl refused an option.
bool prepare(Slot& slot, const std::string& url, const std::string& proxy, const CheckLimits& limits,
             std::size_t maxBody) {
    if (!slot.easy)
        slot.easy = curl().easy_init();
    else
        curl().easy_reset(slot.easy);
    if (!slot.easy)
        return false;
    slot.body.clear();
    slot.overflow = false;
    slot.maxBody = maxBody;
    slot.headerBytes = 0;
    slot.maxHeader = limits.maxHeaderBytes;
    slot.headerOverflow = false;
    slot.answered = false;
    slot.inHeaders = false;
    CURL* e = slot.easy;
    const long limit = static_cast<long>(std::max<std::int64_t>(1, limits.timeLimit.count()));
    bool ok = curl().easy_setopt(e, CURLOPT_URL, url.c_str()) == CURLE_OK;
    // An empty proxy means none; either way the environment's proxy variables are not consulted, and no_proxy
    // cannot make a proxied request go direct.
    ok = ok && curl().easy_setopt(e, CURLOPT_PROXY, proxy.c_str()) == CURLE_OK;
    ok = ok && curl().easy_setopt(e, CURLOPT_NOPROXY, "") == CURLE_OK;
    ok = ok && curl().easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    curl().easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl().easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, limit);
    curl().easy_setopt(e, CURLOPT_TIMEOUT_MS, limit);
    curl().easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // One request per entry: never a connection kept or taken over from another transfer.
    curl().easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
    curl().easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
    // Abandoning a check must not wait for name look-ups still running.
    curl().easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
    curl().easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl().easy_setopt(e, CURLOPT_USERAGENT, "tamberly-check");
    curl().easy_setopt(e, CURLOPT_WRITEFUNCTION, collectBody);
    curl().easy_setopt(e, CURLOPT_WRITEDATA, &slot);
    curl().easy_setopt(e, CURLOPT_HEADERFUNCTION, collectHeader);
    curl().easy_setopt(e, CURLOPT_HEADERDATA, &slot);
    curl().easy_setopt(e, CURLOPT_PRIVATE, &slot);
    return ok;
}

long millis(CURL* easy, CURLINFO what) {
    curl_off_t micros = 0;
    if (curl().easy_getinfo(easy, what, &micros) != CURLE_OK)
        return -1;
    return static_cast<long>(micros / 1000);
}

// The body a working proxy passes on: the expected text within it, or without one the direct fetch's body.
bool rightBody(const std::string& body, const TestPage& page, const std::string& direct) {
    return page.expect.empty() ? body == direct : body.find(page.expect) != std::string::npos;
}

// libcurl's code for a header line longer than it takes (CURLE_TOO_LARGE from libcurl 8.6 on; earlier it said
// CURLE_OUT_OF_MEMORY): the library is loaded at run time, so its number is named here.
constexpr int kCurleTooLarge = 100;

Verdict judge(const Slot& slot, CURLcode code, const TestPage& page, const std::string& direct) {
    // A flood of header lines is no answer to a GET, whatever its status line said.
    if (slot.headerOverflow)
        return Verdict::WrongAnswer;
    long status = 0;
    long connectStatus = 0;
    curl().easy_getinfo(slot.easy, CURLINFO_RESPONSE_CODE, &status);
    curl().easy_getinfo(slot.easy, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
    if (status == 407 || connectStatus == 407)
        return Verdict::NeedsPassword;
    switch (code) {
    case CURLE_OK:
        return status >= 200 && status <= 299 && !slot.overflow && rightBody(slot.body, page, direct)
                   ? Verdict::Works
                   : Verdict::WrongAnswer;
    case CURLE_WRITE_ERROR:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL: // a status line that is not HTTP's, or a code out of range
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_OUT_OF_MEMORY: // libcurl 7 refusing a header line longer than it takes
        return Verdict::WrongAnswer;
    case CURLE_OPERATION_TIMEDOUT:
        // A header block begun and never ended within the limit is a stream of headers, not a slow answer.
        return slot.inHeaders ? Verdict::WrongAnswer : Verdict::TimedOut;
    case CURLE_COULDNT_RESOLVE_PROXY:
    // A SOCKS proxy's own name: libcurl reports it as the host's, and no other host is looked up here, since the
    // SOCKS proxy looks the test URL's host up itself.
    case CURLE_COULDNT_RESOLVE_HOST:
        return Verdict::UnknownHost;
    case CURLE_PROXY: {
        // A SOCKS proxy's own reply. It looks the test URL's host up itself, and SOCKS has no reply for a name it
        // cannot find: "host unreachable" stands for that and for an address it cannot reach, so it is "refused".
        long proxyError = 0;
        curl().easy_getinfo(slot.easy, CURLINFO_PROXY_ERROR, &proxyError);
        if (proxyError == CURLPX_NO_AUTH || proxyError == CURLPX_REQUEST_FAILED)
            return Verdict::NeedsPassword;
        if (proxyError == CURLPX_RESOLVE_HOST)
            return Verdict::UnknownHost;
        return Verdict::Refused;
    }
    default:
        if (static_cast<int>(code) == kCurleTooLarge)
            return Verdict::WrongAnswer;
        // Connection refused or reset, or closed without an answer; once an answer has begun, a failure is the
        // answer's (a reset in the middle of its header lines, say).
        return slot.answered ? Verdict::WrongAnswer : Verdict::Refused;
    }
}

// Removes and cleans up handles on every way out of run().
struct Multi {
    CURLM* handle = curl().multi_init();
    ~Multi() {
        if (handle)
            curl().multi_cleanup(handle);
    }
};

// The headers libcurl adds of its own accord to a request through an HTTP proxy: the judge would take them for the
// proxy's, so the judge's request goes without them.
struct NoProxyHeaders {
    curl_slist* list = curl().slist_append(nullptr, "Proxy-Connection:");
    ~NoProxyHeaders() {
        if (list)
            curl().slist_free_all(list);
    }
};

// What a judge saw, when its answer is one: a 2xx whose body reads as the judge's answer.
std::optional<JudgeAnswer> judgeAnswer(const Slot& slot, CURLcode code) {
    long status = 0;
    curl().easy_getinfo(slot.easy, CURLINFO_RESPONSE_CODE, &status);
    JudgeAnswer answer;
    if (code != CURLE_OK || status < 200 || status > 299 || slot.overflow || slot.headerOverflow ||
        !parseJudgeAnswer(slot.body, answer))
        return std::nullopt;
    return answer;
}

// CONNECT host:443 goes as a plain http URL, so that libcurl stops once the tunnel is open instead of starting TLS.
std::string tunnelUrl(const std::string& host) {
    const bool bareIpv6 = host.find(':') != std::string::npos && host.front() != '[';
    return "http://" + (bareIpv6 ? "[" + host + "]" : host) + ":443/";
}

Tunnel tunnelOutcome(const Slot& slot, CURLcode code, bool socks) {
    if (code != CURLE_OK)
        return Tunnel::No;
    if (socks)
        return Tunnel::Yes; // the SOCKS proxy connected
    long connectStatus = 0;
    curl().easy_getinfo(slot.easy, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
    return connectStatus == 200 ? Tunnel::Yes : Tunnel::No;
}

} // namespace

ProxyCheck::ProxyCheck(TestPage page, CheckLimits limits) : m_page(std::move(page)), m_limits(limits) {
    m_limits.atOnce = std::max(1, m_limits.atOnce);
}

ProxyCheck::~ProxyCheck() = default;

void ProxyCheck::cancel() {
    m_cancelled = true;
    std::lock_guard lock(m_multiMutex);
    if (m_multi)
        curl().multi_wakeup(static_cast<CURLM*>(m_multi));
}

ProxyCheck::Outcome ProxyCheck::run(const std::vector<std::string>& entries, const Progress& progress) {
    Outcome outcome;
    outcome.results.resize(entries.size());

    // One job per distinct proxy; every entry that names it shares its result.
    std::vector<std::string> jobs;
    std::vector<std::vector<std::size_t>> jobEntries;
    std::map<std::string, std::size_t> jobOf;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto target = parseCheckEntry(entries[i]);
        if (!target) {
            if (progress)
                progress(i, outcome.results[i]);
            continue;
        }
        std::string url = proxyUrl(*target);
        const auto [it, fresh] = jobOf.try_emplace(url, jobs.size());
        if (fresh) {
            jobs.push_back(std::move(url));
            jobEntries.emplace_back();
        }
        jobEntries[it->second].push_back(i);
    }
    const bool skipDirect = m_page.direct == TestPage::Direct::Skip && !m_page.expect.empty();
    if (m_page.direct == TestPage::Direct::Only)
        jobs.clear();
    else if (jobs.empty()) {
        outcome.ok = !m_cancelled;
        outcome.cancelled = m_cancelled;
        return outcome;
    }

    if (std::string why; !loadCurl(why)) {
        outcome.error = why;
        return outcome;
    }
    Multi multi;
    if (!multi.handle) {
        outcome.error = "the transfer library could not start";
        return outcome;
    }
    {
        std::lock_guard lock(m_multiMutex);
        m_multi = multi.handle;
    }
    struct Forget {
        ProxyCheck& check;
        ~Forget() {
            std::lock_guard lock(check.m_multiMutex);
            check.m_multi = nullptr;
        }
    } forget{*this};

    // Slots are made as transfers need them, never more than atOnce.
    const auto atOnce = static_cast<std::size_t>(m_limits.atOnce);
    std::vector<std::unique_ptr<Slot>> slots;
    std::vector<Slot*> idle;
    std::vector<Slot*> running;
    // Leaves no handle in the multi handle, whichever way run() ends.
    struct Detach {
        CURLM* multi;
        std::vector<Slot*>& running;
        ~Detach() {
            for (Slot* slot : running)
                curl().multi_remove_handle(multi, slot->easy);
        }
    } detach{multi.handle, running};
    const NoProxyHeaders noProxyHeaders;
    const std::size_t judgeBodyBytes = std::max(m_limits.maxBodyBytes, m_limits.maxHeaderBytes);

    // Waits for finished transfers and hands each to done(); false when cancelled.
    const auto pump = [&](const auto& done) {
        int still = 0;
        if (curl().multi_perform(multi.handle, &still) != CURLM_OK)
            return false;
        int queued = 0;
        while (CURLMsg* message = curl().multi_info_read(multi.handle, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            Slot* slot = nullptr;
            curl().easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&slot));
            const CURLcode code = message->data.result;
            // For a tunnel this also closes its connection at once: nothing is sent through it.
            curl().multi_remove_handle(multi.handle, slot->easy);
            running.erase(std::find(running.begin(), running.end(), slot));
            idle.push_back(slot);
            done(*slot, code);
        }
        if (m_cancelled)
            return false;
        if (!running.empty())
            curl().multi_poll(multi.handle, nullptr, 0, 1000, nullptr);
        return !m_cancelled;
    };
    // Starts one transfer; false when libcurl refused its options (nothing was sent).
    const auto start = [&](Task task, std::size_t job) {
        if (idle.empty()) {
            slots.push_back(std::make_unique<Slot>());
            idle.push_back(slots.back().get());
        }
        Slot* slot = idle.back();
        const bool direct = task == Task::DirectPage || task == Task::DirectJudge4 || task == Task::DirectJudge6;
        const std::string& proxy = direct ? std::string() : jobs[job];
        const bool judging = task == Task::DirectJudge4 || task == Task::DirectJudge6 || task == Task::Judge;
        const std::string url = task == Task::Tunnel ? tunnelUrl(m_page.tunnelHost)
                                : judging            ? m_page.judgeUrl
                                                     : m_page.url;
        bool ok = prepare(*slot, url, proxy, m_limits, judging ? judgeBodyBytes : m_limits.maxBodyBytes);
        if (ok && task == Task::DirectJudge4)
            ok = curl().easy_setopt(slot->easy, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4)) == CURLE_OK;
        if (ok && task == Task::DirectJudge6)
            ok = curl().easy_setopt(slot->easy, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V6)) == CURLE_OK;
        if (ok && task == Task::Judge)
            ok = curl().easy_setopt(slot->easy, CURLOPT_HTTPHEADER, noProxyHeaders.list) == CURLE_OK;
        if (ok && task == Task::Tunnel) {
            ok = curl().easy_setopt(slot->easy, CURLOPT_CONNECT_ONLY, 1L) == CURLE_OK;
            if (ok && proxy.rfind("http://", 0) == 0)
                ok = curl().easy_setopt(slot->easy, CURLOPT_HTTPPROXYTUNNEL, 1L) == CURLE_OK;
        }
        if (!ok || curl().multi_add_handle(multi.handle, slot->easy) != CURLM_OK)
            return false;
        slot->task = task;
        slot->job = job;
        idle.pop_back();
        running.push_back(slot);
        return true;
    };

    // First, without any proxy: the page, which must answer as the page should before any proxy is asked for it,
    // and beside it the judge over IPv4 and over IPv6, whose answers give the user's own addresses. Entries start
    // once the page has answered; only their anonymity waits for the judge.
    const std::string& url = m_page.url;
    std::deque<std::pair<Task, std::size_t>> queue;
    if (!skipDirect)
        queue.emplace_back(Task::DirectPage, 0);
    // Inside a TLS tunnel no proxy's header line reaches the judge: an https judge would call every proxy elite.
    const bool judgeAsked = !skipDirect && m_page.direct != TestPage::Direct::Only &&
                            equalsIgnoringCase(std::string_view(m_page.judgeUrl).substr(0, 7), "http://");
    int judgesLeft = 0;
    if (judgeAsked) {
        queue.emplace_back(Task::DirectJudge4, 0);
        queue.emplace_back(Task::DirectJudge6, 0);
        judgesLeft = 2;
    }
    bool pageKnown = skipDirect;
    std::string direct;
    std::vector<std::string> ownAddresses;

    // Then each entry: the page through it and, once it works, its grades; its result is known when all are in.
    struct JobState {
        CheckResult result;
        int pending = 0;
    };
    std::vector<JobState> states(jobs.size());
    const auto report = [&](std::size_t job) {
        for (const std::size_t i : jobEntries[job]) {
            outcome.results[i] = states[job].result;
            if (progress)
                progress(i, outcome.results[i]);
        }
    };
    const auto graded = [&](std::size_t job) {
        if (--states[job].pending == 0)
            report(job);
    };
    const bool gradeTunnel = !m_page.tunnelHost.empty();
    // Working entries whose judge request waits for the user's own addresses.
    std::vector<std::size_t> awaitingJudge;
    const auto judgeFetched = [&] {
        if (--judgesLeft > 0)
            return;
        for (const std::size_t job : awaitingJudge) {
            if (ownAddresses.empty())
                graded(job); // no own address: no anonymity grade
            else
                queue.emplace_back(Task::Judge, job);
        }
        awaitingJudge.clear();
    };
    const auto directPage = [&](Slot& slot, CURLcode code) {
        long status = 0;
        curl().easy_getinfo(slot.easy, CURLINFO_RESPONSE_CODE, &status);
        const bool success = status >= 200 && status <= 299;
        // Any answer but a 2xx with the expected text: a portal's page or its redirect, an error page, a page
        // however long.
        const bool answered = code == CURLE_OK || slot.overflow;
        const bool otherPage = !m_page.expect.empty() && answered &&
                               !(success && !slot.overflow && slot.body.find(m_page.expect) != std::string::npos);
        if (slot.headerOverflow)
            outcome.error = "the test URL " + url + " answers with more than " +
                            std::to_string(m_limits.maxHeaderBytes) + " bytes of headers";
        else if (otherPage)
            outcome.error = "the test URL did not answer as a check page";
        else if (code == CURLE_OK && success)
            direct = slot.body;
        else if (slot.overflow)
            outcome.error =
                "the test URL " + url + " answers with more than " + std::to_string(m_limits.maxBodyBytes) + " bytes";
        else if (code == CURLE_OK)
            outcome.error = "the test URL " + url + " answers " + std::to_string(status);
        else
            outcome.error = "the test URL " + url + " does not answer: " + curl().easy_strerror(code);
        pageKnown = true;
    };

    std::size_t next = 0;
    while (!pageKnown || next < jobs.size() || !queue.empty() || !running.empty()) {
        // The direct fetches and working entries' grades go ahead of new entries, so that results come soon and few
        // entries wait half done.
        while (running.size() < atOnce && (!queue.empty() || (pageKnown && next < jobs.size()))) {
            if (!queue.empty()) {
                const auto [task, job] = queue.front();
                queue.pop_front();
                if (start(task, job))
                    continue;
                // libcurl refused the options; nothing was sent.
                if (task == Task::DirectPage) {
                    outcome.error = "the test URL " + url + " is not a URL this check can fetch";
                    return outcome;
                }
                if (task == Task::DirectJudge4 || task == Task::DirectJudge6)
                    judgeFetched();
                else
                    graded(job); // that grade stays unknown
                continue;
            }
            const std::size_t job = next++;
            if (!start(Task::Page, job)) {
                states[job].result.verdict = Verdict::Refused;
                report(job);
            }
        }
        const bool going = pump([&](Slot& slot, CURLcode code) {
            // The direct fetches belong to no entry (and with the direct fetch alone there is none).
            const bool ofEntry = slot.task == Task::Page || slot.task == Task::Judge || slot.task == Task::Tunnel;
            JobState* state = ofEntry ? &states[slot.job] : nullptr;
            switch (slot.task) {
            case Task::DirectPage:
                directPage(slot, code);
                break;
            case Task::DirectJudge4:
            case Task::DirectJudge6:
                if (const auto seen = judgeAnswer(slot, code); seen && !seen->clientAddress.empty())
                    ownAddresses.push_back(seen->clientAddress);
                judgeFetched();
                break;
            case Task::Page:
                state->result.verdict = judge(slot, code, m_page, direct);
                state->result.connectMs = millis(slot.easy, CURLINFO_CONNECT_TIME_T);
                state->result.totalMs = millis(slot.easy, CURLINFO_TOTAL_TIME_T);
                if (state->result.verdict == Verdict::Works) {
                    if (judgeAsked && judgesLeft > 0) {
                        awaitingJudge.push_back(slot.job);
                        ++state->pending;
                    } else if (!ownAddresses.empty()) {
                        queue.emplace_back(Task::Judge, slot.job);
                        ++state->pending;
                    }
                    if (gradeTunnel) {
                        queue.emplace_back(Task::Tunnel, slot.job);
                        ++state->pending;
                    }
                }
                if (state->pending == 0)
                    report(slot.job);
                break;
            case Task::Judge:
                if (const auto seen = judgeAnswer(slot, code))
                    state->result.anonymity = gradeAnonymity(*seen, ownAddresses);
                graded(slot.job);
                break;
            case Task::Tunnel:
                state->result.tunnel = tunnelOutcome(slot, code, jobs[slot.job].rfind("http://", 0) != 0);
                graded(slot.job);
                break;
            }
        });
        if (!outcome.error.empty())
            return outcome;
        if (!going) {
            outcome.cancelled = true;
            return outcome;
        }
    }
    outcome.ok = true;
    return outcome;
}

} // namespace tamberly
