// Asio enables C++20 coroutines by itself only for g++ and libc++; clang with libstdc++ has them too.
#if defined(__clang__) && !defined(BOOST_ASIO_HAS_CO_AWAIT)
#define BOOST_ASIO_HAS_CO_AWAIT 1
#define BOOST_ASIO_HAS_STD_COROUTINE 1
#endif

#include "http_server.h"
#include "judge_page.h"

#include "rate_limiter.h"
#include "text/ascii_text.h"

#include <sys/resource.h>
#include <sys/socket.h>

#include <utility> // before Asio, whose awaitable.hpp uses std::exchange without including it

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <exception>
#include <optional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tamberly {
namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using boost::system::error_code;

// Every wait of a connection has this deadline: for the whole request head (from the connection's opening, or from
// the first byte of a later request), for the next request of a kept-alive connection, for a body, for writing an
// answer. It covers the whole wait, not each read: a client trickling a byte at a time gains nothing.
constexpr auto kDeadline = std::chrono::seconds(5);
// How often each event loop closes the connections past their deadline.
constexpr auto kSweepEvery = std::chrono::milliseconds(100);
constexpr std::size_t kKeepAliveRequests = 1000;
constexpr std::size_t kMaxRequestLine = 8192;
constexpr std::size_t kMaxHeaderLine = 8192;
// Request line and headers together: far above any real request.
constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kMaxBody = 4096;
// After an answer that ends a connection, what is still arriving is read and dropped up to this much, so the
// client sees the answer instead of a reset.
constexpr std::size_t kMaxLingerBytes = 256 * 1024;
constexpr int kListenBacklog = 1024;
// The database is written one request at a time; a few threads let the page be read beside a write.
constexpr int kWorkerThreads = 4;
// File descriptors kept free of connections: the database, its journal, the log, the listening socket.
constexpr rlim_t kSpareDescriptors = 64;
constexpr std::size_t kMaxLoggedTarget = 512;
constexpr std::string_view kListPath = "/Tamberly/update.php";
constexpr std::string_view kAddPath = "/Tamberly/addproxy.php";
constexpr std::string_view kDeadPath = "/Tamberly/deadproxy.php";
constexpr std::string_view kJudgePath = "/Tamberly/judge.php";
// Buckets kept for the write limit: the least recently used client makes room for a new one.
constexpr std::size_t kMostLimitedClients = 100000;

const char* reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 429:
        return "Too Many Requests";
    case 503:
        return "Service Unavailable";
    default:
        return status >= 500 ? "Internal Server Error" : "Error";
    }
}

void appendEscaped(std::string& out, const std::string& text, std::size_t limit) {
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 0xf];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > limit)
        out += "...";
}

std::string decodePercent(std::string_view text, bool plusIsBlank) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            const int high = hexDigitValue(text[i + 1]), low = hexDigitValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += plusIsBlank && c == '+' ? ' ' : c;
    }
    return out;
}

// Where a connection is; every state but Working has the deadline.
enum class Phase { Idle, Head, Body, Working, Writing, Lingering };

struct Loop;

// One open connection, owned by the coroutine that serves it. Listed by its loop in deadline order.
struct Connection {
    tcp::socket socket;
    Phase phase = Phase::Head;
    Clock::time_point deadline;
    Connection* previous = nullptr;
    Connection* next = nullptr;
    bool listed = false;
    bool counted = false; ///< counts against the cap

    explicit Connection(tcp::socket s) : socket(std::move(s)) {}
};

// One event loop: a thread of its own, its connections in deadline order. Only its own thread touches it.
struct Loop {
    asio::io_context context{1};
    asio::steady_timer sweepTimer{context};
    Connection* first = nullptr;
    Connection* last = nullptr;
    std::size_t open = 0;
    std::size_t cap = 1;
    bool stopping = false;

    void unlink(Connection& c) {
        if (!c.listed)
            return;
        (c.previous ? c.previous->next : first) = c.next;
        (c.next ? c.next->previous : last) = c.previous;
        c.previous = c.next = nullptr;
        c.listed = false;
    }

    // Every phase has the same time limit, so appending keeps the list in deadline order.
    void enter(Connection& c, Phase phase) {
        unlink(c);
        c.phase = phase;
        if (phase == Phase::Working)
            return;
        c.deadline = Clock::now() + kDeadline;
        c.previous = last;
        (last ? last->next : first) = &c;
        last = &c;
        c.listed = true;
    }

    void close(Connection& c) {
        unlink(c);
        if (c.counted) {
            c.counted = false;
            --open;
        }
        error_code ignored;
        c.socket.shutdown(tcp::socket::shutdown_both, ignored);
        c.socket.close(ignored);
    }

    // Makes room for one more connection by closing the one that has waited the longest for a request (idle, or
    // still sending its head or body).
    bool makeRoom() {
        for (Connection* c = first; c; c = c->next) {
            if (c->phase == Phase::Idle || c->phase == Phase::Head || c->phase == Phase::Body) {
                close(*c);
                return true;
            }
        }
        return false;
    }

    void closePastDeadline() {
        const auto now = Clock::now();
        while (first && first->deadline <= now)
            close(*first);
    }

    // Stopping: no new requests; connections waiting for one are closed, answers under way finish.
    void closeIdle() {
        for (Connection* c = first; c;) {
            Connection* next = c->next;
            if (c->phase == Phase::Idle || c->phase == Phase::Head || c->phase == Phase::Lingering)
                close(*c);
            c = next;
        }
    }
};

struct Answer {
    int status = 200;
    std::string contentType = "text/plain";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::shared_ptr<const std::string> sharedBody; ///< a page shared by every request, sent without a copy
    std::shared_ptr<const ListText> list;          ///< the cached list, sent without a copy
    bool close = false;

    std::size_t size() const { return list ? list->size() : sharedBody ? sharedBody->size() : body.size(); }
    void appendBuffers(std::vector<asio::const_buffer>& out) const {
        if (list) {
            for (const auto& piece : list->pieces())
                out.push_back(asio::buffer(*piece));
        } else {
            out.push_back(asio::buffer(sharedBody ? *sharedBody : body));
        }
    }
};

Answer errorAnswer(int status) {
    Answer answer;
    answer.status = status;
    answer.body = reasonPhrase(status);
    answer.close = true;
    return answer;
}

std::string versionText(unsigned version) {
    return "HTTP/" + std::to_string(version / 10) + "." + std::to_string(version % 10);
}

// The path and query of a target in absolute form ("http://host/path?query"), which a server must take as well as
// the usual origin form.
std::string_view originForm(std::string_view target) {
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (target.size() >= scheme.size() && equalsIgnoringCase(target.substr(0, scheme.size()), scheme)) {
            const std::string_view rest = target.substr(scheme.size());
            const auto start = rest.find_first_of("/?");
            if (start == std::string_view::npos)
                return "/";
            return rest.substr(start);
        }
    }
    return target;
}

// What a request's head says about its framing that the server refuses: a transfer coding other than one final
// "chunked", or one beside a Content-Length. Empty when the framing is fine.
template <typename Head> std::string framingFault(const Head& head) {
    std::vector<std::string> codings;
    for (const auto& field : head) {
        if (field.name() != http::field::transfer_encoding)
            continue;
        std::string_view value(field.value().data(), field.value().size());
        while (true) {
            const auto comma = value.find(',');
            codings.emplace_back(trim(value.substr(0, comma), " \t"));
            if (comma == std::string_view::npos)
                break;
            value.remove_prefix(comma + 1);
        }
    }
    if (codings.empty())
        return {};
    if (codings.size() != 1 || !equalsIgnoringCase(codings.front(), "chunked"))
        return "a transfer coding other than one chunked";
    if (head.find(http::field::content_length) != head.end())
        return "both Transfer-Encoding and Content-Length";
    return {};
}

} // namespace

class HttpServer::Engine {
public:
    Engine(ListService& service, HttpOptions options, std::function<void(const std::string&)> logLine)
        : m_service(service), m_options(std::move(options)), m_logLine(std::move(logLine)),
          m_loops(makeLoops(m_options.threads)), m_acceptor(m_loops.front()->context) {
        if (m_options.writeBurst > 0)
            m_limiter =
                std::make_unique<RateLimiter>(m_options.writeBurst, m_options.writeSeconds, kMostLimitedClients);
    }

    int bind() {
        error_code ec;
        const auto address = asio::ip::make_address(m_options.host, ec);
        if (ec)
            return -1;
        const tcp::endpoint endpoint(address, static_cast<unsigned short>(m_options.port));
        // SO_REUSEADDR lets a restart bind while old connections linger; no SO_REUSEPORT, which would let a second
        // server share the port and quietly take half of the requests.
        m_acceptor.open(endpoint.protocol(), ec);
        if (!ec)
            m_acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec)
            m_acceptor.bind(endpoint, ec);
        if (!ec)
            m_acceptor.listen(kListenBacklog, ec);
        if (ec) {
            m_acceptor.close(ec);
            return -1;
        }
        setConnectionCap();
        return m_acceptor.local_endpoint(ec).port();
    }

    bool run() {
        if (!m_acceptor.is_open())
            return false;
        for (auto& loop : m_loops)
            asio::co_spawn(loop->context, sweep(*loop), asio::detached);
        asio::co_spawn(m_loops.front()->context, accept(), asio::detached);
        std::vector<std::thread> threads;
        for (std::size_t i = 1; i < m_loops.size(); ++i)
            threads.emplace_back([this, i] { runLoop(*m_loops[i]); });
        m_running = true;
        runLoop(*m_loops.front());
        for (auto& thread : threads)
            thread.join();
        m_workers.join();
        m_running = false;
        return true;
    }

    void stop() {
        if (!m_running || m_stopRequested.exchange(true))
            return;
        for (std::size_t i = 0; i < m_loops.size(); ++i) {
            Loop& loop = *m_loops[i];
            asio::post(loop.context, [this, &loop, i] {
                loop.stopping = true;
                if (i == 0) {
                    error_code ignored;
                    m_acceptor.close(ignored);
                }
                loop.closeIdle();
            });
        }
    }

    bool running() const { return m_running; }

private:
    static std::vector<std::unique_ptr<Loop>> makeLoops(int threads) {
        if (threads <= 0)
            threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        std::vector<std::unique_ptr<Loop>> loops;
        for (int i = 0; i < threads; ++i)
            loops.push_back(std::make_unique<Loop>());
        return loops;
    }

    void runLoop(Loop& loop) {
        for (;;) {
            try {
                loop.context.run();
                return;
            } catch (const std::exception& error) {
                m_logLine(std::string("event loop: ") + error.what() + "\n");
            }
        }
    }

    // Raises the open-file limit as far as allowed and keeps the cap below it, so that accepting never runs out of
    // descriptors the database needs.
    void setConnectionCap() {
        rlimit limit{};
        rlim_t available = 1024;
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
            if (limit.rlim_cur < limit.rlim_max) {
                limit.rlim_cur = limit.rlim_max;
                ::setrlimit(RLIMIT_NOFILE, &limit);
                ::getrlimit(RLIMIT_NOFILE, &limit);
            }
            available = limit.rlim_cur;
        }
        const rlim_t usable = available > 2 * kSpareDescriptors ? available - kSpareDescriptors : available / 2;
        const auto cap = std::min<std::size_t>(static_cast<std::size_t>(std::max(1, m_options.maxConnections)),
                                               static_cast<std::size_t>(usable));
        for (auto& loop : m_loops)
            loop->cap = std::max<std::size_t>(1, (cap + m_loops.size() - 1) / m_loops.size());
    }

    // Runs until the loop stops and its last connection is gone, so that deadlines hold while answers finish.
    asio::awaitable<void> sweep(Loop& loop) {
        while (!loop.stopping || loop.open > 0) {
            loop.sweepTimer.expires_after(kSweepEvery);
            error_code ec;
            co_await loop.sweepTimer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
            loop.closePastDeadline();
        }
    }

    // Accepts on the first loop and hands the connections to the loops in turn.
    asio::awaitable<void> accept() {
        std::size_t next = 0;
        asio::steady_timer pause(m_loops.front()->context);
        while (!m_loops.front()->stopping) {
            Loop& loop = *m_loops[next];
            error_code ec;
            tcp::socket socket =
                co_await m_acceptor.async_accept(loop.context, asio::redirect_error(asio::use_awaitable, ec));
            if (m_loops.front()->stopping)
                break;
            if (ec) {
                // Out of descriptors or memory for a moment: the backlog holds the clients meanwhile.
                if (ec == asio::error::operation_aborted)
                    break;
                pause.expires_after(std::chrono::milliseconds(50));
                co_await pause.async_wait(asio::redirect_error(asio::use_awaitable, ec));
                continue;
            }
            next = (next + 1) % m_loops.size();
            asio::co_spawn(loop.context, session(loop, std::move(socket)), asio::detached);
        }
    }

    // Counts the open connections of one client address while it lives; trusted proxies are not counted.
    class ClientSlot {
    public:
        ClientSlot(Engine& engine, std::string key) : m_engine(engine), m_key(std::move(key)) {}
        ~ClientSlot() {
            if (!m_taken)
                return;
            std::lock_guard lock(m_engine.m_clientsMutex);
            if (--m_engine.m_clientConnections[m_key] == 0)
                m_engine.m_clientConnections.erase(m_key);
        }
        ClientSlot(const ClientSlot&) = delete;
        ClientSlot& operator=(const ClientSlot&) = delete;
        bool take() {
            std::lock_guard lock(m_engine.m_clientsMutex);
            int& open = m_engine.m_clientConnections[m_key];
            if (open >= m_engine.m_options.maxConnectionsPerClient) {
                if (open == 0)
                    m_engine.m_clientConnections.erase(m_key);
                return false;
            }
            ++open;
            m_taken = true;
            return true;
        }

    private:
        Engine& m_engine;
        std::string m_key;
        bool m_taken = false;
    };

    // A refusal by the per-client cap is logged, but at most one line a second (with the count since the last), so
    // that a client hammering the cap cannot flood the log.
    void noteClientCapRefusal(const IpAddress& client) {
        std::unique_lock lock(m_clientsMutex);
        ++m_capRefusals;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_capRefusalLogged < std::chrono::seconds(1))
            return;
        const auto count = m_capRefusals;
        m_capRefusals = 0;
        m_capRefusalLogged = now;
        lock.unlock();
        m_logLine(client.text() + " refused: over " + std::to_string(m_options.maxConnectionsPerClient) +
                  " connections from one client (" + std::to_string(count) +
                  (count == 1 ? " connection" : " connections") + " refused since the last such line)\n");
    }

    asio::awaitable<void> session(Loop& loop, tcp::socket socket) {
        Connection connection(std::move(socket));
        error_code ec;
        const auto endpoint = connection.socket.remote_endpoint(ec);
        const auto peer = ec ? std::nullopt : parseIpAddress(endpoint.address().to_string());
        const bool trusted = peer && inRanges(*peer, m_options.trustedProxies);
        ClientSlot slot(*this, peer ? peer->clientKey() : std::string());
        // One address cannot take every connection: past its share it is closed at once, before it costs anything.
        if (!loop.stopping && !trusted && !slot.take()) {
            noteClientCapRefusal(peer.value_or(IpAddress{}));
            loop.close(connection);
            co_return;
        }
        if (loop.stopping || (loop.open >= loop.cap && !loop.makeRoom())) {
            loop.close(connection);
            co_return;
        }
        ++loop.open;
        connection.counted = true;
        try {
            co_await serveRequests(loop, connection, peer.value_or(IpAddress{}));
        } catch (const std::exception& error) {
            m_logLine(std::string("connection failed: ") + error.what() + "\n");
        }
        loop.close(connection);
    }

    // Empty lines before a request line are ignored, as RFC 9112 asks of a server. False when the client left
    // or sent nothing but empty lines past the head's limit.
    asio::awaitable<bool> skipEmptyLines(Connection& c, boost::beast::flat_buffer& buffer) {
        std::size_t skipped = 0;
        while (skipped <= kMaxHead) {
            const auto* data = static_cast<const char*>(buffer.data().data());
            std::size_t blank = 0;
            while (blank < buffer.size() && (data[blank] == '\r' || data[blank] == '\n'))
                ++blank;
            buffer.consume(blank);
            skipped += blank;
            if (buffer.size() > 0)
                co_return true;
            error_code ec;
            const auto n =
                co_await c.socket.async_read_some(buffer.prepare(4096), asio::redirect_error(asio::use_awaitable, ec));
            buffer.commit(n);
            if (ec || !c.socket.is_open())
                co_return false;
        }
        co_return false;
    }

    asio::awaitable<void> serveRequests(Loop& loop, Connection& c, IpAddress peer) {
        error_code ec;
        c.socket.set_option(tcp::no_delay(true), ec);
        boost::beast::flat_buffer buffer(kMaxHead);
        loop.enter(c, Phase::Head);

        for (std::size_t served = 0; served < kKeepAliveRequests && !loop.stopping; ++served) {
            if (served > 0) {
                if (buffer.size() == 0) {
                    // Waiting costs no buffer: the socket is only watched until the next request starts.
                    loop.enter(c, Phase::Idle);
                    co_await c.socket.async_wait(tcp::socket::wait_read, asio::redirect_error(asio::use_awaitable, ec));
                    if (ec || loop.stopping || !c.socket.is_open())
                        co_return;
                }
                loop.enter(c, Phase::Head);
            }
            if (!co_await skipEmptyLines(c, buffer))
                co_return;

            std::optional<http::request_parser<http::string_body>> parser(std::in_place);
            parser->header_limit(kMaxHead);
            parser->body_limit(kMaxBody);
            co_await http::async_read_header(c.socket, buffer, *parser, asio::redirect_error(asio::use_awaitable, ec));
            if (!c.socket.is_open())
                co_return; // past its deadline, or closed for room
            const auto& head = parser->get();
            const bool lineRead = !head.target().empty();
            const std::string method = lineRead ? std::string(head.method_string()) : std::string();
            const std::string target = lineRead ? std::string(head.target()) : std::string();
            const std::string version = lineRead ? versionText(head.version()) : std::string();
            // The address that counts for limits and the log: the peer's, or behind a trusted proxy the client's.
            std::vector<std::string_view> forwardedFor;
            for (const auto& field : head)
                if (equalsIgnoringCase(std::string_view(field.name_string().data(), field.name_string().size()),
                                       "X-Forwarded-For"))
                    forwardedFor.emplace_back(field.value().data(), field.value().size());
            const IpAddress client = forwardedClient(peer, forwardedFor, m_options.trustedProxies);

            Answer answer;
            std::string refusal; // why a request is refused, for the log
            if (ec == http::error::body_limit) {
                answer = errorAnswer(413);
            } else if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
                const auto data = static_cast<const char*>(buffer.data().data());
                const std::string_view received(data, buffer.size());
                const auto lineEnd = received.find("\r\n");
                answer = errorAnswer(lineEnd == std::string_view::npos || lineEnd > kMaxRequestLine ? 414 : 400);
            } else if (ec == http::error::end_of_stream || ec == http::error::partial_message ||
                       ec == asio::error::eof || ec == asio::error::connection_reset ||
                       ec == asio::error::operation_aborted) {
                co_return; // the client left
            } else if (ec) {
                answer = errorAnswer(400);
            } else if (method.size() + target.size() + version.size() + 2 > kMaxRequestLine) {
                answer = errorAnswer(414);
            } else if (std::any_of(head.begin(), head.end(), [](const auto& field) {
                           return field.name_string().size() + field.value().size() + 2 > kMaxHeaderLine;
                       })) {
                answer = errorAnswer(400);
            } else if (const auto hosts =
                           std::count_if(head.begin(), head.end(),
                                         [](const auto& field) { return field.name() == http::field::host; });
                       hosts > 1 || (hosts == 0 && head.version() >= 11)) {
                answer = errorAnswer(400);
                answer.body = hosts == 0 ? "the Host field is missing" : "more than one Host field";
            } else if (std::string fault = framingFault(head); !fault.empty()) {
                // Framing the server cannot read would leave the rest of the body to be taken for a request.
                answer = errorAnswer(400);
                answer.body = "the request's framing is refused: " + fault;
                refusal = answer.body;
            } else if ((method == "GET" || method == "HEAD") &&
                       (parser->chunked() || parser->content_length().value_or(0) > 0)) {
                // Nothing the server serves takes a body: refused before the client can make it wait for one.
                answer = errorAnswer(400);
                answer.body = "a GET or HEAD request takes no body";
            } else {
                if (!parser->is_done()) {
                    loop.enter(c, Phase::Body);
                    co_await http::async_read(c.socket, buffer, *parser, asio::redirect_error(asio::use_awaitable, ec));
                    if (!c.socket.is_open())
                        co_return;
                    if (ec == http::error::body_limit) {
                        answer = errorAnswer(413);
                    } else if (ec == http::error::end_of_stream || ec == http::error::partial_message ||
                               ec == asio::error::eof || ec == asio::error::connection_reset ||
                               ec == asio::error::operation_aborted) {
                        co_return;
                    } else if (ec) {
                        // A chunk size past any limit, or a body that is not chunked as it says.
                        answer = errorAnswer(400);
                        refusal = "malformed request body: " + ec.message();
                    }
                }
                if (!ec) {
                    const bool keepAlive = parser->keep_alive();
                    if ((method == "GET" || method == "HEAD") && isJudgePath(target)) {
                        // The proxy check's judge: what arrived, from the head itself, on the event loop.
                        HeaderLines lines;
                        for (const auto& field : head)
                            lines.emplace_back(std::string(field.name_string()), std::string(field.value()));
                        answer.body = judgePageText(peer, lines, m_options.trustedProxies);
                        answer.headers.emplace_back("Cache-Control", "no-store");
                    } else {
                        answer = co_await respond(loop, c, method, target, client);
                    }
                    answer.close = answer.close || !keepAlive || served + 1 == kKeepAliveRequests || loop.stopping;
                }
            }
            const bool headOnly = method == "HEAD";
            const unsigned versionNumber = lineRead ? head.version() : 11;
            parser.reset();
            if (!refusal.empty())
                m_logLine(client.text() + " refused: " + refusal + "\n");

            std::string header = "HTTP/1.1 ";
            header += std::to_string(answer.status);
            header += ' ';
            header += reasonPhrase(answer.status);
            header += "\r\nContent-Type: ";
            header += answer.contentType;
            header += "\r\nContent-Length: ";
            header += std::to_string(answer.size());
            header += "\r\nX-Content-Type-Options: nosniff\r\n";
            for (const auto& [name, value] : answer.headers) {
                header += name;
                header += ": ";
                header += value;
                header += "\r\n";
            }
            if (answer.close)
                header += "Connection: close\r\n";
            else if (versionNumber == 10)
                header += "Connection: keep-alive\r\n";
            header += "\r\n";

            loop.enter(c, Phase::Writing);
            std::vector<asio::const_buffer> out{asio::buffer(header)};
            if (!headOnly)
                answer.appendBuffers(out);
            co_await asio::async_write(c.socket, out, asio::redirect_error(asio::use_awaitable, ec));
            m_logLine(accessLogLine(client.text(), static_cast<std::int64_t>(std::time(nullptr)), method, target,
                                    version, answer.status, headOnly ? 0 : answer.size()));
            if (ec || !c.socket.is_open())
                co_return;
            if (answer.close) {
                if (!loop.stopping)
                    co_await linger(loop, c);
                co_return;
            }
        }
    }

    // Reads and drops what the client still sends, for a while, after the last answer of a connection: closing
    // with unread data would reset the connection and could wipe the answer before the client reads it.
    asio::awaitable<void> linger(Loop& loop, Connection& c) {
        error_code ec;
        c.socket.shutdown(tcp::socket::shutdown_send, ec);
        loop.enter(c, Phase::Lingering);
        std::array<char, 4096> sink;
        for (std::size_t dropped = 0; dropped < kMaxLingerBytes && c.socket.is_open();) {
            const auto n =
                co_await c.socket.async_read_some(asio::buffer(sink), asio::redirect_error(asio::use_awaitable, ec));
            if (ec)
                break;
            dropped += n;
        }
    }

    struct Job {
        std::string method;
        std::string path;
        QueryParams params;
        std::string client;
    };

    Reply answerJob(const Job& job) {
        try {
            return m_service.handle(job.method, job.path, job.params, job.client);
        } catch (const std::exception& error) {
            m_logLine(std::string("request failed: ") + error.what() + "\n");
        } catch (...) {
            m_logLine("request failed\n");
        }
        Reply failed;
        failed.status = 500;
        failed.body = reasonPhrase(500);
        return failed;
    }

    // Runs a job on the worker pool and completes on the caller's event loop. A named initiation rather than a
    // lambda, and no nested coroutine: g++ 12 destroys lambda temporaries of a co_await expression twice.
    struct WorkerInitiation {
        Engine* engine;
        template <typename Handler> void operator()(Handler&& handler, Job* job) const {
            auto loop = asio::prefer(asio::get_associated_executor(handler), asio::execution::outstanding_work.tracked);
            asio::post(engine->m_workers,
                       [engine = engine, job, handler = std::move(handler), loop = std::move(loop)]() mutable {
                           Reply reply = engine->answerJob(*job);
                           asio::post(loop, [handler = std::move(handler), reply = std::move(reply)]() mutable {
                               handler(std::move(reply));
                           });
                       });
        }
    };

    // The job stays in the awaiting coroutine's frame until the answer is back: only its address is passed, since
    // g++ 12 also mishandles temporaries with destructors in a co_await expression.
    template <typename Token> auto answerOnWorker(Job* job, Token&& token) {
        return asio::async_initiate<Token, void(Reply)>(WorkerInitiation{this}, token, job);
    }

    static bool isJudgePath(const std::string& target) {
        std::string path;
        QueryParams params;
        splitTarget(originForm(target), path, params);
        return path == kJudgePath;
    }

    asio::awaitable<Answer> respond(Loop& loop, Connection& c, const std::string& method, const std::string& target,
                                    const IpAddress& client) {
        std::string path;
        QueryParams params;
        splitTarget(originForm(target), path, params);
        Answer answer;
        const bool read = method == "GET" || method == "HEAD";
        if (read && path == kListPath) {
            // The list from memory, on the event loop: no database, no copy.
            answer.list = m_service.listText();
            answer.headers.emplace_back("Cache-Control", "no-cache");
            co_return answer;
        }
        const std::string key = client.clientKey();
        if (read && m_limiter && (path == kAddPath || path == kDeadPath)) {
            if (const int wait = m_limiter->take(key, Clock::now()); wait > 0) {
                answer.status = 429;
                answer.body = "too many submissions and reports from your address; try again in " +
                              std::to_string(wait) + (wait == 1 ? " second" : " seconds");
                answer.headers.emplace_back("Retry-After", std::to_string(wait));
                co_return answer;
            }
        }
        Reply reply;
        if (!read) {
            reply = m_service.handle(method, path, params); // refused without the database
        } else {
            // Anything else may touch the database: a worker thread answers it, the loop serves on meanwhile.
            loop.enter(c, Phase::Working);
            Job job{method, std::move(path), std::move(params), key};
            reply = co_await answerOnWorker(&job, asio::use_awaitable);
        }
        answer.status = reply.status;
        answer.contentType = std::move(reply.contentType);
        answer.body = std::move(reply.body);
        answer.sharedBody = std::move(reply.sharedBody);
        answer.headers = std::move(reply.headers);
        co_return answer;
    }

    ListService& m_service;
    HttpOptions m_options;
    std::function<void(const std::string&)> m_logLine;
    std::vector<std::unique_ptr<Loop>> m_loops;
    tcp::acceptor m_acceptor;
    asio::thread_pool m_workers{kWorkerThreads};
    std::unique_ptr<RateLimiter> m_limiter;
    std::mutex m_clientsMutex;
    std::unordered_map<std::string, int> m_clientConnections;
    long m_capRefusals = 0;                                   // with m_clientsMutex
    std::chrono::steady_clock::time_point m_capRefusalLogged; // with m_clientsMutex
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopRequested{false};
};

void splitTarget(std::string_view target, std::string& path, QueryParams& params) {
    const auto question = target.find('?');
    path = decodePercent(target.substr(0, question), false);
    if (question == std::string_view::npos)
        return;
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const auto equals = pair.find('=');
        const std::string_view name = pair.substr(0, equals);
        if (name.empty())
            continue;
        const std::string_view value = equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
        params.emplace(decodePercent(name, true), decodePercent(value, true));
    }
}

std::string accessLogLine(const std::string& remoteAddress, std::int64_t time, const std::string& method,
                          const std::string& target, const std::string& version, int status, std::size_t bytes) {
    std::string line;
    appendEscaped(line, remoteAddress.empty() ? std::string("-") : remoteAddress, 64);
    char stamp[40] = "01/Jan/1970:00:00:00 +0000";
    const std::time_t seconds = static_cast<std::time_t>(time);
    std::tm parts{};
    if (gmtime_r(&seconds, &parts))
        std::strftime(stamp, sizeof stamp, "%d/%b/%Y:%H:%M:%S +0000", &parts);
    line += " - - [";
    line += stamp;
    line += "] \"";
    if (method.empty()) {
        line += "-";
    } else {
        appendEscaped(line, method, 16);
        line += ' ';
        appendEscaped(line, target, kMaxLoggedTarget);
        line += ' ';
        appendEscaped(line, version, 16);
    }
    line += "\" " + std::to_string(status) + " " + (bytes ? std::to_string(bytes) : std::string("-")) + "\n";
    return line;
}

HttpServer::HttpServer(ListService& service, HttpOptions options, std::function<void(const std::string&)> logLine)
    : m_engine(std::make_unique<Engine>(service, std::move(options), std::move(logLine))) {}

HttpServer::~HttpServer() = default;

int HttpServer::bind() {
    return m_engine->bind();
}

bool HttpServer::run() {
    return m_engine->run();
}

void HttpServer::stop() {
    m_engine->stop();
}

bool HttpServer::running() const {
    return m_engine->running();
}

} // namespace tamberly
