#include "platform/windows/wininet_transfer.h"

#include "platform/windows/wide_text.h"
#include "text/ascii_text.h"
#include "text/quantity_text.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

namespace tamberly {
namespace {

using Clock = std::chrono::steady_clock;

bool isRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

struct Target {
    bool https = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring path; // with the query
};

bool crack(const std::wstring& url, Target& target) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
        return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    if (!parts.lpszHostName || parts.dwHostNameLength == 0)
        return false;
    target.https = parts.nScheme == INTERNET_SCHEME_HTTPS;
    target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    target.port = parts.nPort;
    target.path.assign(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
    target.path.append(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"", parts.dwExtraInfoLength);
    if (target.path.empty() || target.path[0] != L'/')
        target.path.insert(0, L"/");
    return true;
}

// One request and its answer, run on the worker thread; redirects are left to the caller.
struct Hop {
    std::string failure;
    DWORD status = 0;
    std::string reason;
    std::wstring location;
    std::string contentType;
    std::string body;
};

// The server's explanation of a refusal: only a short text/plain body, never an error page.
std::string refusalReason(const Hop& hop) {
    const std::string_view mediaType = trim(std::string_view(hop.contentType).substr(0, hop.contentType.find(';')));
    if (hop.status < 400 || hop.status > 499 || !equalsIgnoringCase(mediaType, "text/plain") ||
        static_cast<std::int64_t>(hop.body.size()) > transfer_limits::kMaxReasonBytes)
        return {};
    return hop.body;
}

/// A header of the answer as text, or nothing when it has none.
std::wstring queryText(HINTERNET request, DWORD what) {
    DWORD size = 0;
    ::HttpQueryInfoW(request, what, nullptr, &size, nullptr);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!::HttpQueryInfoW(request, what, text.data(), &size, nullptr))
        return {};
    text.resize(size / sizeof(wchar_t));
    return text;
}

std::string headTooLargeText() {
    return "the answer's header is larger than " + sizeText(transfer_limits::kMaxHeadBytes) + " or " +
           std::to_string(transfer_limits::kMaxHeadFields) + " fields";
}

/// Whether a head (status line, fields, one per line, as WinINet keeps it) passes the program's caps.
bool headTooLarge(const std::wstring& head) {
    int fields = -1; // the status line is no field
    for (std::size_t start = 0; start < head.size();) {
        std::size_t end = head.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = head.size();
        if (end > start)
            ++fields;
        start = end + 2;
    }
    return static_cast<std::int64_t>(head.size()) > transfer_limits::kMaxHeadBytes ||
           fields > transfer_limits::kMaxHeadFields;
}

/// Whether a Content-Encoding value names no coding but identity.
bool onlyIdentity(std::string_view coding) {
    for (const std::string_view piece : splitList(coding, ',')) {
        const std::string_view name = trim(piece);
        if (!name.empty() && !equalsIgnoringCase(name, "identity"))
            return false;
    }
    return true;
}

// What the waiting thread and the worker share. The waiting thread may close the request handle to stop the
// worker (WinINet allows that from another thread); the mutex keeps the handle from closing twice.
struct Shared {
    std::mutex mutex;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    std::atomic<bool> cancelled{false};
    std::atomic<Clock::rep> lastProgress{Clock::now().time_since_epoch().count()};
    void progress() { lastProgress = Clock::now().time_since_epoch().count(); }
    void close() {
        std::lock_guard lock(mutex);
        if (request)
            ::InternetCloseHandle(request);
        if (connection)
            ::InternetCloseHandle(connection);
        request = connection = nullptr;
    }
};

std::string errorText(DWORD error, bool stalled, std::chrono::milliseconds stall) {
    switch (error) {
    case ERROR_INTERNET_CANNOT_CONNECT:
        return "the server refused the connection";
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
        return "the server's host name was not found";
    case ERROR_INTERNET_TIMEOUT:
        return "the server sent nothing for " + durationText(stall);
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
        // Wine reports a receive time-out as an aborted connection.
        return stalled ? "the server sent nothing for " + durationText(stall)
                       : "the server closed the connection before the answer was complete";
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
        return "the server gave no HTTP answer";
    default:
        return systemErrorText(error);
    }
}

void fetch(HINTERNET session, const Target& target, std::chrono::milliseconds stall, std::int64_t maxBodyBytes,
           Shared& shared, Hop& hop) {
    const auto failed = [&](DWORD error) {
        if (hop.failure.empty() && !shared.cancelled) {
            const auto idle = Clock::now() - Clock::time_point(Clock::duration(shared.lastProgress.load()));
            hop.failure = errorText(error, idle >= stall * 9 / 10, stall);
        }
    };
    {
        std::lock_guard lock(shared.mutex);
        if (shared.cancelled)
            return;
        shared.connection = ::InternetConnectW(session, target.host.c_str(), target.port, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0);
        if (!shared.connection)
            return failed(::GetLastError());
        const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
                            INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_AUTH |
                            (target.https ? INTERNET_FLAG_SECURE : 0);
        static const wchar_t* kAccept[] = {L"*/*", nullptr};
        shared.request =
            ::HttpOpenRequestW(shared.connection, L"GET", target.path.c_str(), nullptr, nullptr, kAccept, flags, 0);
        if (!shared.request)
            return failed(::GetLastError());
        // Time-outs count on the request handle only: on the session they are not applied to its requests.
        DWORD ms = static_cast<DWORD>(stall.count());
        for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                   INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT})
            ::InternetSetOptionW(shared.request, option, &ms, sizeof ms);
    }
    HINTERNET request = shared.request;
    shared.progress();
    if (!::HttpSendRequestW(request, nullptr, 0, nullptr, 0))
        return failed(::GetLastError());
    shared.progress();

    DWORD size = sizeof hop.status;
    if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &hop.status, &size, nullptr))
        return failed(::GetLastError());
    wchar_t text[512];
    size = sizeof text;
    if (::HttpQueryInfoW(request, HTTP_QUERY_STATUS_TEXT, text, &size, nullptr))
        hop.reason = narrow(std::wstring(text, size / sizeof(wchar_t)));
    size = sizeof text;
    if (::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_TYPE, text, &size, nullptr))
        hop.contentType = narrow(std::wstring(text, size / sizeof(wchar_t)));
    // WinINet has read the whole head by now: it hands on none of it before. Its size and fields are counted here.
    const std::wstring head = queryText(request, HTTP_QUERY_RAW_HEADERS_CRLF);
    if (headTooLarge(head)) {
        hop.failure = headTooLargeText();
        return;
    }
    if (isRedirect(hop.status)) {
        std::wstring location(2048, L'\0');
        size = static_cast<DWORD>(location.size() * sizeof(wchar_t));
        if (::HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location.data(), &size, nullptr)) {
            location.resize(size / sizeof(wchar_t));
            hop.location = location;
            return;
        }
    }
    // No compression is asked for, so none is decoded: an answer in any coding would be taken as its raw bytes.
    const std::string coding = narrow(queryText(request, HTTP_QUERY_CONTENT_ENCODING));
    if (hop.status >= 200 && hop.status <= 299 && !onlyIdentity(coding)) {
        hop.failure = "the answer is encoded as \"" + shownLine(coding) + "\", which cannot be read";
        return;
    }
    const std::string tooLarge = "the answer is larger than " + sizeText(maxBodyBytes);
    ULONGLONG length = 0;
    size = sizeof length;
    if (::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER64, &length, &size, nullptr) &&
        length > static_cast<ULONGLONG>(maxBodyBytes)) {
        hop.failure = tooLarge;
        return;
    }
    // Read as the data comes, so an oversized body is refused before it is all in memory.
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::InternetReadFile(request, buffer, sizeof buffer, &got))
            return failed(::GetLastError());
        if (got == 0)
            break;
        shared.progress();
        hop.body.append(buffer, got);
        if (static_cast<std::int64_t>(hop.body.size()) > maxBodyBytes) {
            hop.failure = tooLarge;
            return;
        }
    }
}

} // namespace

WinInetTransfer::WinInetTransfer(PreTranslate preTranslate, WinInetLimits limits)
    : m_preTranslate(std::move(preTranslate)), m_limits(limits) {
    m_session = ::InternetOpenW(L"Tamberly", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
}

WinInetTransfer::~WinInetTransfer() {
    if (m_session)
        ::InternetCloseHandle(static_cast<HINTERNET>(m_session));
}

bool WinInetTransfer::busy() const {
    return m_running;
}

TransferResult WinInetTransfer::get(const std::string& url) {
    if (m_running)
        return {false, {}, "another request is still running"};
    std::wstring current = widen(url);
    Target target;
    if (!crack(current, target))
        return {false, {}, "\"" + url + "\" is not an http or https address"};
    if (!m_session)
        return {false, {}, "the Internet functions of Windows are not available"};

    m_running = true;
    struct Release {
        bool& running;
        ~Release() { running = false; }
    } release{m_running};

    const auto deadline = Clock::now() + m_limits.total;
    for (int redirects = 0;; ++redirects) {
        auto shared = std::make_shared<Shared>();
        auto hop = std::make_shared<Hop>();
        HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread worker([session = static_cast<HINTERNET>(m_session), target, stall = m_limits.stall,
                            max = m_limits.maxBodyBytes, shared, hop, done] {
            fetch(session, target, stall, max, *shared, *hop);
            ::SetEvent(done);
        });

        // Wait for the worker while the window goes on: messages are dispatched as they come.
        bool timedOut = false;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                timedOut = true;
                break;
            }
            const DWORD woke =
                ::MsgWaitForMultipleObjects(1, &done, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
            if (woke == WAIT_OBJECT_0)
                break;
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) {
                    // Quitting while a request runs: give up on it, and leave the quit for the main loop.
                    ::PostQuitMessage(static_cast<int>(message.wParam));
                    shared->cancelled = true;
                    hop->failure = "the request was cancelled";
                    break;
                }
                if (m_preTranslate && m_preTranslate(message))
                    continue;
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
            if (shared->cancelled)
                break;
        }
        if (timedOut || shared->cancelled) {
            shared->cancelled = true;
            shared->close(); // ends the worker's blocking call
        }
        if (timedOut || shared->cancelled) {
            // The program quits, or the answer ran out of time. Wine's WinINet does not end a blocking receive
            // when its handle closes, and a head that never ends is read inside one call, so the worker is not
            // waited for: it holds what it shares (its event too) and ends when its call does, or with the process.
            worker.detach();
            if (timedOut)
                return {false, {}, "the server did not complete the answer within " + durationText(m_limits.total)};
            return {false, {}, "the request was cancelled"};
        }
        worker.join();
        ::CloseHandle(done);
        shared->close();
        if (!hop->failure.empty())
            return {false, {}, hop->failure};
        if (isRedirect(hop->status) && !hop->location.empty()) {
            if (redirects == transfer_limits::kMaxRedirects)
                return {false,
                        {},
                        "the server redirected more than " + std::to_string(transfer_limits::kMaxRedirects) + " times"};
            std::wstring next(4096, L'\0');
            DWORD size = static_cast<DWORD>(next.size());
            if (!::InternetCombineUrlW(current.c_str(), hop->location.c_str(), next.data(), &size, ICU_NO_ENCODE))
                return {false, {}, "the server redirected to \"" + narrow(hop->location) + "\""};
            next.resize(size);
            Target nextTarget;
            if (!crack(next, nextTarget))
                return {false, {}, "the server redirected to \"" + narrow(next) + "\""};
            if (target.https && !nextTarget.https)
                return {false, {}, "the server redirected from https to plain http"};
            current = next;
            target = nextTarget;
            continue;
        }
        if (hop->status < 200 || hop->status > 299)
            return {false,
                    {},
                    "the server answered " + std::to_string(hop->status) +
                        (hop->reason.empty() ? "" : " " + hop->reason),
                    refusalReason(*hop)};
        return {true, std::move(hop->body), {}};
    }
}

} // namespace tamberly
