// The proxy check on Windows, over WinHTTP's asynchronous API. Each transfer has a WinHTTP session of its own,
// opened with its proxy named: a proxy set on a request is ignored by Wine's WinHTTP, a session's is honoured
// everywhere.
#include "net/proxy_check.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

// clang-format off
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>
// clang-format on

namespace tamberly {
namespace {

using Clock = std::chrono::steady_clock;

// What a transfer is for: the direct fetches that come first, then the test page through an entry and, for a
// working one, its grades.
enum class Task { DirectPage, DirectJudge, Page, Judge, Tunnel };

// What a finished transfer leaves for the checking thread.
struct Finished {
    std::uint64_t id = 0;
    // WinHTTP's error; 0 when the answer came whole, or was cut short at a limit.
    DWORD error = 0;
    DWORD status = 0;
    // A status line and its headers came: the other side answered, whatever followed.
    bool answered = false;
    // Bytes of an answer came, whole or not.
    bool received = false;
    bool overflow = false;
    bool headerOverflow = false;
    // The answer came over TLS: for a tunnel, it opened.
    bool secured = false;
    std::string body;
    long connectMs = -1;
    long totalMs = -1;
};

// Where WinHTTP's callbacks leave finished transfers and cancel() rings; it lives as long as a transfer that may
// still call back, which can be after run() has returned.
struct Mailbox {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Finished> finished;

    void post(Finished done) {
        {
            std::lock_guard lock(mutex);
            finished.push_back(std::move(done));
        }
        wake.notify_all();
    }
    void ring() {
        // Taken so that a ring between the waiter's test and its sleep is not lost.
        { std::lock_guard lock(mutex); }
        wake.notify_all();
    }
};

long millisSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// One request's state, owned by its request handle: WinHTTP's last callback for the handle deletes it. The
// callbacks of one request come one at a time.
struct Transfer {
    std::shared_ptr<Mailbox> mailbox;
    Finished result;
    std::size_t maxBody = 0;
    std::size_t maxHeader = 0;
    // Stop at the answer's head: a tunnel's answer says all there is to know.
    bool headOnly = false;
    Clock::time_point started = Clock::now();
    bool done = false;
    char chunk[4096];

    void finish(DWORD error) {
        if (done)
            return;
        done = true;
        result.error = error;
        result.totalMs = millisSince(started);
        mailbox->post(std::move(result));
    }
    void readMore(HINTERNET request) {
        if (!::WinHttpQueryDataAvailable(request, nullptr))
            finish(::GetLastError());
    }
    void headersAvailable(HINTERNET request) {
        result.answered = true;
        DWORD status = 0;
        DWORD size = sizeof status;
        ::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        result.status = status;
        // The header lines as WinHTTP keeps them, in UTF-16: one character for each byte that came.
        DWORD rawBytes = 0;
        ::WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                              WINHTTP_NO_OUTPUT_BUFFER, &rawBytes, WINHTTP_NO_HEADER_INDEX);
        if (rawBytes / sizeof(wchar_t) > maxHeader) {
            result.headerOverflow = true;
            return finish(0);
        }
        if (headOnly) {
            const CERT_CONTEXT* certificate = nullptr;
            DWORD certificateSize = sizeof certificate;
            if (::WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &certificateSize) &&
                certificate) {
                result.secured = true;
                ::CertFreeCertificateContext(certificate);
            }
            return finish(0);
        }
        if (status == 407)
            return finish(0);
        readMore(request);
    }
    void dataAvailable(HINTERNET request, DWORD available) {
        if (available == 0)
            return finish(0);
        const DWORD want = std::min<DWORD>(available, sizeof chunk);
        if (!::WinHttpReadData(request, chunk, want, nullptr))
            finish(::GetLastError());
    }
    void readComplete(HINTERNET request, DWORD bytes) {
        if (bytes == 0)
            return finish(0);
        if (result.body.size() + bytes > maxBody) {
            // Whatever it is, it is not the small answer the page gives: stop reading.
            result.overflow = true;
            return finish(0);
        }
        result.body.append(chunk, bytes);
        readMore(request);
    }
};

// The notices the transfers act on; the others would cost a call each for nothing.
constexpr DWORD kNotices = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
                           WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER | WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED;

void CALLBACK onStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    // The session's and the connection's own notices carry no transfer.
    auto* transfer = reinterpret_cast<Transfer*>(context);
    if (!transfer)
        return;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER:
        if (transfer->result.connectMs < 0)
            transfer->result.connectMs = millisSince(transfer->started);
        break;
    case WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED:
        if (info && length >= sizeof(DWORD) && *static_cast<DWORD*>(info) > 0)
            transfer->result.received = true;
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        if (!::WinHttpReceiveResponse(handle, nullptr))
            transfer->finish(::GetLastError());
        break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        transfer->headersAvailable(handle);
        break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        transfer->dataAvailable(handle, *static_cast<DWORD*>(info));
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        transfer->readComplete(handle, length);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        transfer->finish(static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError);
        break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        delete transfer;
        break;
    default:
        break;
    }
}

std::wstring widen(const std::string& text) {
    if (text.empty())
        return {};
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(0, size)), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

// Where a request goes: an http or https URL taken apart.
struct Target {
    bool https = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring path;
};

std::optional<Target> crack(const std::string& url) {
    const std::wstring wide = widen(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    if (wide.empty() || !::WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts))
        return std::nullopt;
    if ((parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) || !parts.lpszHostName ||
        parts.dwHostNameLength == 0)
        return std::nullopt;
    Target target;
    target.https = parts.nScheme == INTERNET_SCHEME_HTTPS;
    target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    target.port = parts.nPort;
    target.path.assign(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
    target.path.append(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"", parts.dwExtraInfoLength);
    if (target.path.empty() || target.path[0] != L'/')
        target.path.insert(0, L"/");
    return target;
}

std::string errorText(DWORD error) {
    switch (error) {
    case ERROR_WINHTTP_CANNOT_CONNECT:
        return "the connection was refused";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return "its host name does not resolve";
    case ERROR_WINHTTP_TIMEOUT:
        return "no answer in time";
    case ERROR_WINHTTP_CONNECTION_ERROR:
        return "the connection was closed";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        return "the answer is not HTTP";
    default:
        return "WinHTTP error " + std::to_string(error);
    }
}

// Errors that come only once the other side has sent something: an answer that breaks HTTP or a secure channel
// that fails.
bool answerError(DWORD error) {
    switch (error) {
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case ERROR_WINHTTP_INVALID_HEADER:
    case ERROR_WINHTTP_HEADER_COUNT_EXCEEDED:
    case ERROR_WINHTTP_HEADER_SIZE_OVERFLOW:
    case ERROR_WINHTTP_CHUNKED_ENCODING_HEADER_SIZE_OVERFLOW:
    case ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW:
    case ERROR_WINHTTP_REDIRECT_FAILED:
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_HTTP_PROTOCOL_MISMATCH:
        return true;
    default:
        return false;
    }
}

bool isTlsError(DWORD error) {
    switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        return true;
    default:
        return false;
    }
}

// The body a working proxy passes on: the expected text within it, or without one the direct fetch's body.
bool rightBody(const std::string& body, const TestPage& page, const std::string& direct) {
    return page.expect.empty() ? body == direct : body.find(page.expect) != std::string::npos;
}

Verdict judge(const Finished& done, const TestPage& page, const std::string& direct) {
    // A flood of header lines is no answer to a GET, whatever its status line said.
    if (done.headerOverflow)
        return Verdict::WrongAnswer;
    if (done.status == 407)
        return Verdict::NeedsPassword;
    if (done.error == 0)
        return done.status >= 200 && done.status <= 299 && !done.overflow && rightBody(done.body, page, direct)
                   ? Verdict::Works
                   : Verdict::WrongAnswer;
    switch (done.error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return Verdict::UnknownHost;
    case ERROR_WINHTTP_TIMEOUT:
        return Verdict::TimedOut;
    case ERROR_WINHTTP_CANNOT_CONNECT:
        return Verdict::Refused;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        // WinHTTP says so too of a connection closed before a single byte came: that proxy refused.
        return done.answered || done.received ? Verdict::WrongAnswer : Verdict::Refused;
    default:
        // Closed or reset without an answer is "refused"; once an answer has begun, a failure is the answer's.
        return done.answered || answerError(done.error) ? Verdict::WrongAnswer : Verdict::Refused;
    }
}

// What a judge saw, when its answer is one: a 2xx whose body reads as the judge's answer.
std::optional<JudgeAnswer> judgeAnswer(const Finished& done) {
    JudgeAnswer answer;
    if (done.error != 0 || done.status < 200 || done.status > 299 || done.overflow || done.headerOverflow ||
        !parseJudgeAnswer(done.body, answer))
        return std::nullopt;
    return answer;
}

// WinHTTP asks the proxy for a tunnel (CONNECT host:443) and starts TLS through it. A tunnel that opened to the
// host answers over TLS; the proxy's refusal comes back as its own plain answer, or as a failure before any TLS.
// A TLS failure tells nothing: Wine's WinHTTP starts TLS over a refused tunnel as over an open one, and fails alike.
Tunnel tunnelOutcome(const Finished& done) {
    if (done.error == 0)
        return done.secured ? Tunnel::Yes : Tunnel::No;
    return isTlsError(done.error) ? Tunnel::Unknown : Tunnel::No;
}

// A running transfer as the checking thread knows it: the handles it closes, and when it gives up on it.
struct Running {
    HINTERNET session = nullptr;
    HINTERNET connect = nullptr;
    HINTERNET request = nullptr;
    Clock::time_point deadline;
    Task task = Task::Page;
    std::size_t job = 0;
};

// Closing the request handle makes WinHTTP end the transfer and, with its last callback, delete its state.
void close(Running& running) {
    if (running.request)
        ::WinHttpCloseHandle(running.request);
    if (running.connect)
        ::WinHttpCloseHandle(running.connect);
    if (running.session)
        ::WinHttpCloseHandle(running.session);
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
        static_cast<Mailbox*>(m_multi)->ring();
}

ProxyCheck::Outcome ProxyCheck::run(const std::vector<std::string>& entries, const Progress& progress) {
    Outcome outcome;
    outcome.results.resize(entries.size());

    // One job per distinct proxy; every entry that names it shares its result. WinHTTP speaks to HTTP proxies only.
    std::vector<std::wstring> jobs;
    std::vector<std::vector<std::size_t>> jobEntries;
    std::map<std::string, std::size_t> jobOf;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto target = parseCheckEntry(entries[i]);
        if (target && target->scheme == ProxyScheme::Socks5)
            outcome.results[i].verdict = Verdict::NotCheckedHere;
        if (!target || target->scheme == ProxyScheme::Socks5) {
            if (progress)
                progress(i, outcome.results[i]);
            continue;
        }
        const std::string hostPort = target->hostPort();
        const auto [it, fresh] = jobOf.try_emplace(hostPort, jobs.size());
        if (fresh) {
            jobs.push_back(widen(hostPort));
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

    const auto page = crack(m_page.url);
    if (!page) {
        outcome.error = "the test URL " + m_page.url + " is not a URL this check can fetch";
        return outcome;
    }
    // A judge or tunnel host WinHTTP cannot take leaves that grade unknown.
    const auto judgePage = m_page.judgeUrl.empty() || skipDirect || m_page.direct == TestPage::Direct::Only
                               ? std::nullopt
                               : crack(m_page.judgeUrl);
    const auto tunnelPage = m_page.tunnelHost.empty() ? std::nullopt : crack("https://" + m_page.tunnelHost + ":443/");
    const std::size_t judgeBodyBytes = std::max(m_limits.maxBodyBytes, m_limits.maxHeaderBytes);

    auto mailbox = std::make_shared<Mailbox>();
    {
        std::lock_guard lock(m_multiMutex);
        m_multi = mailbox.get();
    }
    std::map<std::uint64_t, Running> running;
    // Whichever way run() ends: cancel() no longer rings, and every transfer still running is abandoned.
    struct Forget {
        ProxyCheck& check;
        std::map<std::uint64_t, Running>& running;
        ~Forget() {
            {
                std::lock_guard lock(check.m_multiMutex);
                check.m_multi = nullptr;
            }
            for (auto& [id, transfer] : running)
                close(transfer);
        }
    } forget{*this, running};

    const auto limit = static_cast<int>(std::max<std::int64_t>(1, m_limits.timeLimit.count()));
    std::uint64_t nextId = 1;
    // Starts one transfer; false when WinHTTP refused it (nothing was sent).
    const auto start = [&](Task task, std::size_t job) {
        const bool direct = task == Task::DirectPage || task == Task::DirectJudge;
        const bool judging = task == Task::DirectJudge || task == Task::Judge;
        const Target& target = task == Task::Tunnel ? *tunnelPage : judging ? *judgePage : *page;
        Running transfer;
        transfer.task = task;
        transfer.job = job;
        // Never the system's proxy: straight to the page, or through the entry alone, with no bypass list.
        transfer.session = direct ? ::WinHttpOpen(L"tamberly-check", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC)
                                  : ::WinHttpOpen(L"tamberly-check", WINHTTP_ACCESS_TYPE_NAMED_PROXY, jobs[job].c_str(),
                                                  WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
        bool ok =
            transfer.session &&
            ::WinHttpSetStatusCallback(transfer.session, onStatus, kNotices, 0) != WINHTTP_INVALID_STATUS_CALLBACK &&
            ::WinHttpSetTimeouts(transfer.session, limit, limit, limit, limit);
        if (ok)
            transfer.connect = ::WinHttpConnect(transfer.session, target.host.c_str(), target.port, 0);
        if (transfer.connect)
            transfer.request =
                ::WinHttpOpenRequest(transfer.connect, L"GET", target.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES, target.https ? WINHTTP_FLAG_SECURE : 0);
        if (!transfer.request) {
            close(transfer);
            return false;
        }
        // One request per entry on a connection of its own, followed nowhere, with nothing of the user's sent.
        DWORD disable = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_KEEP_ALIVE |
                        WINHTTP_DISABLE_AUTHENTICATION;
        ::WinHttpSetOption(transfer.request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);
        DWORD logon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
        ::WinHttpSetOption(transfer.request, WINHTTP_OPTION_AUTOLOGON_POLICY, &logon, sizeof logon);
        // WinHTTP reads a whole head before it hands any of it on: a flood of header lines ends at this limit where
        // WinHTTP keeps it (Windows itself; Wine reads on until the time limit).
        DWORD maxHead = static_cast<DWORD>(m_limits.maxHeaderBytes);
        ::WinHttpSetOption(transfer.request, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &maxHead, sizeof maxHead);

        auto* state = new Transfer;
        state->mailbox = mailbox;
        state->result.id = nextId;
        state->maxBody = judging ? judgeBodyBytes : m_limits.maxBodyBytes;
        state->maxHeader = m_limits.maxHeaderBytes;
        state->headOnly = task == Task::Tunnel;
        auto context = reinterpret_cast<DWORD_PTR>(state);
        if (!::WinHttpSetOption(transfer.request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
            delete state;
            close(transfer);
            return false;
        }
        transfer.deadline = state->started + m_limits.timeLimit;
        // From here on the request handle owns the state: closing it deletes it.
        if (!::WinHttpSendRequest(transfer.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                  context)) {
            close(transfer);
            return false;
        }
        running.emplace(nextId++, transfer);
        return true;
    };

    // Waits for finished transfers, or for the first to run out of time, and hands each to done(); false when
    // cancelled.
    const auto pump = [&](const auto& done) {
        std::deque<Finished> finished;
        {
            std::unique_lock lock(mailbox->mutex);
            auto first = Clock::time_point::max();
            for (const auto& [id, transfer] : running)
                first = std::min(first, transfer.deadline);
            const auto ready = [&] { return m_cancelled || !mailbox->finished.empty(); };
            if (first == Clock::time_point::max())
                mailbox->wake.wait(lock, ready);
            else
                mailbox->wake.wait_until(lock, first, ready);
            finished.swap(mailbox->finished);
        }
        if (m_cancelled)
            return false;
        const auto now = Clock::now();
        for (auto& [id, transfer] : running) {
            if (transfer.deadline <= now) {
                Finished late;
                late.id = id;
                late.error = ERROR_WINHTTP_TIMEOUT;
                late.totalMs = static_cast<long>(m_limits.timeLimit.count());
                finished.push_back(std::move(late));
            }
        }
        for (Finished& one : finished) {
            const auto it = running.find(one.id);
            if (it == running.end())
                continue; // given up on already: it ran out of time
            const Running transfer = it->second;
            close(it->second);
            running.erase(it);
            done(transfer, one);
        }
        return !m_cancelled;
    };

    // First, without any proxy: the page, which must answer as the page should before any proxy is asked for it,
    // and the judge, whose answer gives the user's own address.
    std::string direct;
    std::vector<std::string> ownAddresses;
    if (!skipDirect) {
        const std::string& url = m_page.url;
        if (!start(Task::DirectPage, 0)) {
            outcome.error = "the test URL " + url + " is not a URL this check can fetch";
            return outcome;
        }
        if (judgePage)
            start(Task::DirectJudge, 0); // if WinHTTP will not take it, there is no anonymity grade
        while (!running.empty()) {
            const bool going = pump([&](const Running& transfer, const Finished& done) {
                if (transfer.task == Task::DirectJudge) {
                    if (const auto seen = judgeAnswer(done); seen && !seen->clientAddress.empty())
                        ownAddresses.push_back(seen->clientAddress);
                    return;
                }
                const bool success = done.status >= 200 && done.status <= 299;
                const bool answered = done.error == 0;
                // Any answer but a 2xx with the expected text: a portal's page or its redirect, an error page, a
                // page however long.
                const bool otherPage =
                    !m_page.expect.empty() && answered &&
                    !(success && !done.overflow && done.body.find(m_page.expect) != std::string::npos);
                if (done.headerOverflow)
                    outcome.error = "the test URL " + url + " answers with more than " +
                                    std::to_string(m_limits.maxHeaderBytes) + " bytes of headers";
                else if (otherPage)
                    outcome.error = "the test URL did not answer as a check page";
                else if (answered && success && !done.overflow)
                    direct = done.body;
                else if (done.overflow)
                    outcome.error = "the test URL " + url + " answers with more than " +
                                    std::to_string(m_limits.maxBodyBytes) + " bytes";
                else if (answered)
                    outcome.error = "the test URL " + url + " answers " + std::to_string(done.status);
                else
                    outcome.error = "the test URL " + url + " does not answer: " + errorText(done.error);
            });
            if (!going) {
                outcome.cancelled = true;
                return outcome;
            }
        }
        if (!outcome.error.empty())
            return outcome;
    }

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
    // A working entry's grades go ahead of new entries, so that its result comes soon and few wait half done.
    std::deque<std::pair<Task, std::size_t>> grades;
    const bool gradeAnonymity = !ownAddresses.empty();
    const bool gradeTunnel = tunnelPage.has_value();
    const auto atOnce = static_cast<std::size_t>(m_limits.atOnce);

    std::size_t next = 0;
    while (next < jobs.size() || !grades.empty() || !running.empty()) {
        while (running.size() < atOnce && (!grades.empty() || next < jobs.size())) {
            if (!grades.empty()) {
                const auto [task, job] = grades.front();
                grades.pop_front();
                if (!start(task, job))
                    graded(job); // WinHTTP refused it: that grade stays unknown
                continue;
            }
            const std::size_t job = next++;
            if (!start(Task::Page, job)) {
                // WinHTTP refused this one (a proxy name it cannot take); nothing was sent.
                states[job].result.verdict = Verdict::Refused;
                report(job);
            }
        }
        if (running.empty())
            continue;
        const bool going = pump([&](const Running& transfer, const Finished& done) {
            JobState& state = states[transfer.job];
            switch (transfer.task) {
            case Task::Page:
                state.result.verdict = judge(done, m_page, direct);
                state.result.connectMs = done.connectMs;
                state.result.totalMs = done.totalMs;
                if (state.result.verdict == Verdict::Works) {
                    if (gradeAnonymity)
                        grades.emplace_back(Task::Judge, transfer.job);
                    if (gradeTunnel)
                        grades.emplace_back(Task::Tunnel, transfer.job);
                    state.pending = int(gradeAnonymity) + int(gradeTunnel);
                }
                if (state.pending == 0)
                    report(transfer.job);
                break;
            case Task::Judge:
                if (const auto seen = judgeAnswer(done))
                    state.result.anonymity = tamberly::gradeAnonymity(*seen, ownAddresses);
                graded(transfer.job);
                break;
            case Task::Tunnel:
                state.result.tunnel = tunnelOutcome(done);
                graded(transfer.job);
                break;
            default:
                break;
            }
        });
        if (!going) {
            outcome.cancelled = true;
            return outcome;
        }
    }
    outcome.ok = true;
    return outcome;
}

} // namespace tamberly
