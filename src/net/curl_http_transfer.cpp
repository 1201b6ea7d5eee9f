#include "net/curl_http_transfer.h"

#include "net/curl_library.h"
#include "text/ascii_text.h"
#include "text/quantity_text.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

namespace tamberly {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kCancelled = "the request was cancelled";
const std::string kClosedEarly = "the server closed the connection before the answer was complete";
const std::string kUndecodable = "the server's answer could not be decoded";
const std::string kNotHttp = "the server gave no HTTP answer";

std::string headTooLarge() {
    return "the answer's header is larger than " + sizeText(transfer_limits::kMaxHeadBytes) + " or " +
           std::to_string(transfer_limits::kMaxHeadFields) + " fields";
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

/// The waiting thread blocked until the request's thread wakes it: for callers with no loop of their own.
class BlockingWait final : public TransferWait {
public:
    bool run() override {
        std::unique_lock lock(m_mutex);
        m_woken.wait(lock, [this] { return m_done; });
        return true;
    }
    void wake() override {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_woken.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_woken;
    bool m_done = false;
};

/// An address as libcurl reads it, with its scheme lowered; nothing when it is no URL or has no host.
struct Address {
    std::string url;
    std::string scheme;
};

std::string urlPart(const CurlLibrary& curl, CURLU* handle, CURLUPart part) {
    char* text = nullptr;
    if (curl.url_get(handle, part, &text, 0) != CURLUE_OK || !text)
        return {};
    std::string result(text);
    curl.free(text);
    return result;
}

/// reference read on its own (base empty) or against base, as a browser follows a link.
std::optional<Address> readAddress(const CurlLibrary& curl, const std::string& base, const std::string& reference) {
    CURLU* handle = curl.url();
    if (!handle)
        return std::nullopt;
    std::optional<Address> address;
    // Any scheme is read, so that a redirect to one the program refuses can be named.
    const unsigned flags = CURLU_NON_SUPPORT_SCHEME;
    if ((base.empty() || curl.url_set(handle, CURLUPART_URL, base.c_str(), flags) == CURLUE_OK) &&
        curl.url_set(handle, CURLUPART_URL, reference.c_str(), flags) == CURLUE_OK) {
        Address read{urlPart(curl, handle, CURLUPART_URL), lowerAscii(urlPart(curl, handle, CURLUPART_SCHEME))};
        if (!read.url.empty() && !urlPart(curl, handle, CURLUPART_HOST).empty())
            address = std::move(read);
    }
    curl.url_cleanup(handle);
    return address;
}

bool isWeb(const Address& address) {
    return address.scheme == "http" || address.scheme == "https";
}

/// The content codings of an answer that are more than identity, in the order they were applied.
std::vector<std::string> codingsOf(std::string_view header) {
    std::vector<std::string> codings;
    for (const std::string_view piece : splitList(header, ',')) {
        const std::string coding = lowerAscii(trim(piece));
        if (!coding.empty() && coding != "identity")
            codings.push_back(coding);
    }
    return codings;
}

/// One request and its answer; redirects are left to the caller. Filled on the request's thread.
struct Hop {
    std::string failure; // set by the program itself: limits, a coding it cannot read, cancelled
    CURLcode code = CURLE_OK;
    std::string curlMessage;
    bool headEnded = false;
    int status = 0;
    std::string reason;
    std::string location;
    std::string contentType;
    std::string contentEncoding;
    std::optional<std::int64_t> contentLength;
    std::string body;

    // The head as it comes in.
    std::int64_t headBytes = 0;
    int headFields = 0;
    std::int64_t maxBodyBytes = 0;
    Clock::time_point lastProgress = Clock::now();
    curl_off_t rawBytes = 0;

    void fail(const std::string& why) {
        if (failure.empty())
            failure = why;
    }
};

bool is(std::string_view name, std::string_view wanted) {
    return equalsIgnoringCase(name, wanted);
}

/// A Content-Length value; nothing when it is not a plain number of a sane size.
std::optional<std::int64_t> lengthOf(std::string_view value) {
    if (value.empty() || value.size() > 18)
        return std::nullopt;
    std::int64_t length = 0;
    for (const char c : value) {
        if (c < '0' || c > '9')
            return std::nullopt;
        length = length * 10 + (c - '0');
    }
    return length;
}

/// The head ends: an answer that cannot be used is refused before its body is read.
bool headEnds(Hop& hop) {
    if (hop.status >= 100 && hop.status < 200)
        return true; // an interim answer: the real one follows
    hop.headEnded = true;
    if (hop.status < 200 || hop.status > 299)
        return true; // only its status and a short reason count
    const std::vector<std::string> codings = codingsOf(hop.contentEncoding);
    if (codings.size() > 1 ||
        (codings.size() == 1 && codings[0] != "gzip" && codings[0] != "x-gzip" && codings[0] != "deflate")) {
        hop.fail("the answer is encoded as \"" + shownLine(hop.contentEncoding) + "\", which cannot be read");
        return false;
    }
    if (codings.empty() && hop.contentLength) {
        if (*hop.contentLength > hop.maxBodyBytes) {
            hop.fail("the answer is larger than " + sizeText(hop.maxBodyBytes));
            return false;
        }
        hop.body.reserve(static_cast<std::size_t>(*hop.contentLength)); // one buffer for a list of megabytes
    }
    return true;
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    Hop& hop = *static_cast<Hop*>(user);
    const std::size_t length = size * count;
    hop.lastProgress = Clock::now();
    hop.headBytes += static_cast<std::int64_t>(length);
    const std::string_view line = trim(std::string_view(data, length), "\r\n");
    if (line.starts_with("HTTP/")) {
        // A status line: a new answer begins (after an interim one), with fields of its own.
        const std::size_t codeStart = line.find(' ');
        const std::string_view rest = codeStart == std::string_view::npos ? "" : line.substr(codeStart + 1);
        hop.status = 0;
        for (std::size_t i = 0; i < 3 && i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i)
            hop.status = hop.status * 10 + (rest[i] - '0');
        hop.reason = rest.size() > 4 ? std::string(trim(rest.substr(4))) : std::string();
        hop.location.clear();
        hop.contentType.clear();
        hop.contentEncoding.clear();
        hop.contentLength.reset();
    } else if (line.empty()) {
        if (!headEnds(hop))
            return 0;
    } else {
        ++hop.headFields;
        const std::size_t colon = line.find(':');
        const std::string_view name = trim(line.substr(0, colon));
        const std::string_view value = colon == std::string_view::npos ? "" : trim(line.substr(colon + 1));
        if (is(name, "Location"))
            hop.location = value;
        else if (is(name, "Content-Type"))
            hop.contentType = value;
        else if (is(name, "Content-Encoding"))
            hop.contentEncoding += (hop.contentEncoding.empty() ? "" : ", ") + std::string(value);
        else if (is(name, "Content-Length"))
            hop.contentLength = lengthOf(value);
    }
    if (hop.headBytes > transfer_limits::kMaxHeadBytes || hop.headFields > transfer_limits::kMaxHeadFields) {
        hop.fail(headTooLarge());
        return 0;
    }
    return length;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    Hop& hop = *static_cast<Hop*>(user);
    const std::size_t length = size * count;
    hop.lastProgress = Clock::now();
    // Counted as decoded, so a small compressed answer that expands without end stops here.
    if (static_cast<std::int64_t>(hop.body.size() + length) > hop.maxBodyBytes) {
        hop.fail("the answer is larger than " + sizeText(hop.maxBodyBytes));
        return 0;
    }
    hop.body.append(data, length);
    return length;
}

// Bytes that arrive but are not yet a header line or decoded body count as progress too.
int onProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    Hop& hop = *static_cast<Hop*>(user);
    if (received != hop.rawBytes) {
        hop.rawBytes = received;
        hop.lastProgress = Clock::now();
    }
    return 0;
}

// The server's explanation of a refusal: only a short text/plain body, never an error page.
std::string refusalReason(const Hop& hop) {
    const std::string_view mediaType = trim(std::string_view(hop.contentType).substr(0, hop.contentType.find(';')));
    if (hop.status < 400 || hop.status > 499 || !equalsIgnoringCase(mediaType, "text/plain") ||
        static_cast<std::int64_t>(hop.body.size()) > transfer_limits::kMaxReasonBytes)
        return {};
    return hop.body;
}

std::string errorText(const CurlLibrary& curl, const Hop& hop) {
    switch (hop.code) {
    case CURLE_COULDNT_CONNECT:
        return "the server refused the connection";
    case CURLE_COULDNT_RESOLVE_HOST:
        return "the server's host name was not found";
    case CURLE_OPERATION_TIMEDOUT:
        return "the connection timed out";
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
        return kClosedEarly;
    case CURLE_RECV_ERROR:
        // libcurl names a broken chunk only in its message; any other receive error is a connection cut short.
        return hop.curlMessage.find("chunk") != std::string::npos ? kUndecodable : kClosedEarly;
    case CURLE_BAD_CONTENT_ENCODING:
        return kUndecodable;
    case CURLE_UNSUPPORTED_PROTOCOL: // the address was checked: here it is an answer that is not HTTP
    case CURLE_WEIRD_SERVER_REPLY:
        return kNotHttp;
    case CURLE_OUT_OF_MEMORY:
        // libcurl's own bound on one header line, above the program's bound on the whole head.
        if (!hop.headEnded)
            return headTooLarge();
        [[fallthrough]];
    default:
        return hop.curlMessage.empty() ? curl.easy_strerror(hop.code) : hop.curlMessage;
    }
}

/// What the waiting thread and the request's thread share: the waiting thread may stop the request at any moment.
class Exchange {
public:
    bool cancelled() const { return m_cancelled; }
    void cancel(const CurlLibrary& curl) {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        if (m_multi)
            curl.multi_wakeup(m_multi);
    }
    void attach(CURLM* multi) {
        std::lock_guard lock(m_mutex);
        m_multi = multi;
    }

private:
    std::mutex m_mutex;
    CURLM* m_multi = nullptr;
    std::atomic<bool> m_cancelled{false};
};

struct Deadline {
    Clock::time_point total;
    std::chrono::milliseconds totalLimit;
    std::chrono::milliseconds stall;
};

/// GETs url without following redirects, on the request's thread. The connection is closed when this returns, so
/// a server that is given up on sees it gone at once.
void fetch(const CurlLibrary& curl, const std::string& url, const Deadline& deadline, Exchange& exchange, Hop& hop) {
    CURL* easy = curl.easy_init();
    CURLM* multi = curl.multi_init();
    if (!easy || !multi) {
        hop.fail("libcurl could not start a request");
        if (easy)
            curl.easy_cleanup(easy);
        if (multi)
            curl.multi_cleanup(multi);
        return;
    }
    char message[CURL_ERROR_SIZE] = {};
    curl.easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl.easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // Direct, whatever proxy is in force or named by http_proxy, https_proxy or all_proxy.
    curl.easy_setopt(easy, CURLOPT_PROXY, "");
    curl.easy_setopt(easy, CURLOPT_NOPROXY, "*");
    curl.easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl.easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // Only the codings the program reads; each answer's codings are checked before its body is read.
    curl.easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    curl.easy_setopt(easy, CURLOPT_USERAGENT, "Tamberly");
    curl.easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl.easy_setopt(easy, CURLOPT_ERRORBUFFER, message);
    curl.easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl.easy_setopt(easy, CURLOPT_HEADERDATA, &hop);
    curl.easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
    curl.easy_setopt(easy, CURLOPT_WRITEDATA, &hop);
    curl.easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl.easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl.easy_setopt(easy, CURLOPT_XFERINFODATA, &hop);
    curl.multi_add_handle(multi, easy);
    exchange.attach(multi);

    hop.lastProgress = Clock::now();
    for (;;) {
        if (exchange.cancelled()) {
            hop.fail(kCancelled);
            break;
        }
        int running = 0;
        curl.multi_perform(multi, &running);
        if (!hop.failure.empty())
            break;
        int queued = 0;
        if (const CURLMsg* done = curl.multi_info_read(multi, &queued); done && done->msg == CURLMSG_DONE) {
            hop.code = done->data.result;
            hop.curlMessage = message;
            break;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline.total) {
            hop.fail("the server did not complete the answer within " + durationText(deadline.totalLimit));
            break;
        }
        if (now >= hop.lastProgress + deadline.stall) {
            hop.fail("the server sent nothing for " + durationText(deadline.stall));
            break;
        }
        const auto wait = std::min(deadline.total, hop.lastProgress + deadline.stall) - now;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
        curl.multi_poll(multi, nullptr, 0, static_cast<int>(std::clamp<long long>(ms, 1, 1000 * 1000)), nullptr);
    }
    exchange.attach(nullptr);
    curl.multi_remove_handle(multi, easy);
    curl.easy_cleanup(easy);
    curl.multi_cleanup(multi);
}

/// The whole request, redirects included, on the request's thread.
TransferResult transfer(const CurlLibrary& curl, Address target, const TransferLimits& limits, Exchange& exchange) {
    const Deadline deadline{Clock::now() + limits.total, limits.total, limits.stall};
    // Redirects are followed here rather than by libcurl, so each is checked; a submission reaches the server once.
    for (int redirects = 0;; ++redirects) {
        Hop hop;
        hop.maxBodyBytes = limits.maxBodyBytes;
        fetch(curl, target.url, deadline, exchange, hop);
        if (!hop.failure.empty())
            return {false, {}, hop.failure};
        if (hop.headEnded && isRedirect(hop.status) && !hop.location.empty()) {
            if (redirects == transfer_limits::kMaxRedirects)
                return {false,
                        {},
                        "the server redirected more than " + std::to_string(transfer_limits::kMaxRedirects) + " times"};
            const std::optional<Address> next = readAddress(curl, target.url, hop.location);
            if (!next || !isWeb(*next))
                return {false, {}, "the server redirected to \"" + (next ? next->url : hop.location) + "\""};
            if (target.scheme == "https" && next->scheme == "http")
                return {false, {}, "the server redirected from https to plain http"};
            target = *next;
            continue;
        }
        if (hop.headEnded && (hop.status < 200 || hop.status > 299))
            return {false,
                    {},
                    "the server answered " + std::to_string(hop.status) + (hop.reason.empty() ? "" : " " + hop.reason),
                    hop.code == CURLE_OK ? refusalReason(hop) : std::string()};
        if (hop.code != CURLE_OK)
            return {false, {}, errorText(curl, hop)};
        if (!hop.headEnded)
            return {false, {}, kNotHttp};
        return {true, std::move(hop.body), {}};
    }
}

} // namespace

CurlHttpTransfer::CurlHttpTransfer(TransferWaitFactory wait, TransferLimits limits)
    : m_wait(std::move(wait)), m_limits(limits) {}

CurlHttpTransfer::~CurlHttpTransfer() = default;

bool CurlHttpTransfer::busy() const {
    return m_running;
}

TransferResult CurlHttpTransfer::get(const std::string& url) {
    if (m_running)
        return {false, {}, "another request is still running"};
    std::string why;
    const CurlLibrary* curl = loadCurl(why);
    if (!curl)
        return {false, {}, why};
    const std::optional<Address> target = readAddress(*curl, {}, url);
    if (!target || !isWeb(*target))
        return {false, {}, "\"" + url + "\" is not an http or https address"};

    m_running = true;
    struct Release {
        bool& running;
        ~Release() { running = false; }
    } release{m_running};

    const std::unique_ptr<TransferWait> wait = m_wait ? m_wait() : std::make_unique<BlockingWait>();
    Exchange exchange;
    TransferResult result;
    std::thread request([&] {
        result = transfer(*curl, *target, m_limits, exchange);
        wait->wake();
    });
    if (!wait->run()) {
        // The caller's loop was told to end: the program quits, and the request stops at once.
        exchange.cancel(*curl);
        request.join();
        return {false, {}, kCancelled};
    }
    request.join();
    return result;
}

} // namespace tamberly
