#include "http_server.h"

#include "list_service.h"

#include <httplib.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <iterator>

namespace tamberly {
namespace {

constexpr std::size_t kMaxBody = 4096;
constexpr int kTimeoutSeconds = 5;
constexpr std::size_t kKeepAliveRequests = 1000;
constexpr int kListenBacklog = 1024;
constexpr std::size_t kMaxLoggedTarget = 512;
// Request line, headers and body together: far above any real request (the line is cut at 8 KiB, the body at 4).
constexpr std::size_t kMaxRequestBytes = 64 * 1024;

const char* reasonPhrase(int status) {
    switch (status) {
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
    case 416:
        return "Range Not Satisfiable";
    case 503:
        return "Service Unavailable";
    default:
        return status >= 500 ? "Internal Server Error" : "Error";
    }
}

// Methods whose body cpp-httplib reads before routing; any other body is left unread on the connection.
bool bodyIsRead(const httplib::Request& request) {
    const auto& m = request.method;
    return m == "POST" || m == "PUT" || m == "PATCH" || m == "DELETE" || m == "PRI";
}

bool carriesBody(const httplib::Request& request) {
    return request.has_header("Transfer-Encoding") ||
           (request.has_header("Content-Length") && request.get_header_value("Content-Length") != "0");
}

bool isKnownMethod(const std::string& method) {
    static const char* const known[] = {"GET",     "HEAD",    "POST",  "PUT",   "DELETE",
                                        "CONNECT", "OPTIONS", "TRACE", "PATCH", "PRI"};
    return std::find(std::begin(known), std::end(known), method) != std::end(known);
}

bool isMethodToken(const std::string& method) {
    return !method.empty() && method.size() <= 32 &&
           std::all_of(method.begin(), method.end(), [](char c) { return (c >= 'A' && c <= 'Z') || c == '-'; });
}

void refuseMethod(httplib::Response& response) {
    response.status = 405;
    response.body = "only GET and HEAD are served";
    if (!response.has_header("Content-Type"))
        response.set_header("Content-Type", "text/plain");
    response.set_header("Allow", "GET, HEAD");
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

int waitFor(int socket, short event, int timeoutMs) {
    pollfd wanted{socket, event, 0};
    int ready;
    do {
        ready = ::poll(&wanted, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready;
}

int milliseconds(time_t seconds, time_t microseconds) {
    return static_cast<int>(seconds * 1000 + microseconds / 1000);
}

void socketAddress(int socket, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? ::getpeername(socket, raw, &size) : ::getsockname(socket, raw, &size)) != 0)
        return;
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (::getnameinfo(raw, size, host, sizeof host, service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        ip = host;
        port = std::atoi(service);
    }
}

// One request's bytes from a connection, read 4 KiB at a time as cpp-httplib's own stream does, but no more than
// kMaxRequestBytes in all: cpp-httplib keeps every header line it is sent, so a client streaming headers for ever
// grew the server by hundreds of megabytes a second.
class RequestStream final : public httplib::Stream {
public:
    RequestStream(int socket, int readTimeoutMs, int writeTimeoutMs)
        : m_socket(socket), m_readTimeoutMs(readTimeoutMs), m_writeTimeoutMs(writeTimeoutMs) {}

    bool is_readable() const override { return m_offset < m_size || waitFor(m_socket, POLLIN, m_readTimeoutMs) > 0; }
    bool is_writable() const override { return waitFor(m_socket, POLLOUT, m_writeTimeoutMs) > 0; }

    ssize_t read(char* ptr, size_t size) override {
        if (m_offset == m_size) {
            if (m_received >= kMaxRequestBytes) {
                m_overflowed = true;
                return -1;
            }
            if (waitFor(m_socket, POLLIN, m_readTimeoutMs) <= 0)
                return -1;
            ssize_t n;
            do {
                n = ::recv(m_socket, m_buffer, std::min(sizeof m_buffer, kMaxRequestBytes - m_received), 0);
            } while (n < 0 && errno == EINTR);
            if (n <= 0)
                return n;
            m_received += static_cast<std::size_t>(n);
            m_offset = 0;
            m_size = static_cast<std::size_t>(n);
        }
        const std::size_t count = std::min(size, m_size - m_offset);
        std::memcpy(ptr, m_buffer + m_offset, count);
        m_offset += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable())
            return -1;
        ssize_t n;
        do {
            n = ::send(m_socket, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { socketAddress(m_socket, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { socketAddress(m_socket, false, ip, port); }
    socket_t socket() const override { return m_socket; }

    /// True once the request went past kMaxRequestBytes; what is left of it was not read.
    bool overflowed() const { return m_overflowed; }

private:
    int m_socket;
    int m_readTimeoutMs;
    int m_writeTimeoutMs;
    char m_buffer[4096];
    std::size_t m_offset = 0;
    std::size_t m_size = 0;
    std::size_t m_received = 0;
    bool m_overflowed = false;
};

} // namespace

// Gives access to the listening socket, whose backlog cpp-httplib fixes at 5: too few for a burst of connections,
// and serves each connection through RequestStream.
class HttpServer::Server : public httplib::Server {
public:
    void widenBacklog() {
        const int socket = svr_sock_;
        if (socket >= 0)
            ::listen(socket, kListenBacklog);
    }

private:
    // cpp-httplib's own loop over the requests of a keep-alive connection, with RequestStream for its stream.
    bool process_and_close_socket(socket_t socket) override {
        bool ok = false;
        for (std::size_t left = keep_alive_max_count_; left > 0 && nextRequestComes(socket); --left) {
            RequestStream stream(socket, milliseconds(read_timeout_sec_, read_timeout_usec_),
                                 milliseconds(write_timeout_sec_, write_timeout_usec_));
            bool closed = false;
            ok = process_request(stream, left == 1, closed, nullptr);
            // The rest of an oversized request is still on its way: the connection cannot carry another.
            if (!ok || closed || stream.overflowed())
                break;
        }
        ::shutdown(socket, SHUT_RDWR);
        ::close(socket);
        return ok;
    }

    // Waits for the next request of a kept-alive connection, in short steps so that a stop ends the wait.
    bool nextRequestComes(int socket) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
        while (svr_sock_ != INVALID_SOCKET) {
            const int ready = waitFor(socket, POLLIN, 10);
            if (ready != 0)
                return ready > 0;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
        }
        return false;
    }
};

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
    : m_service(service), m_options(std::move(options)), m_logLine(std::move(logLine)),
      m_server(std::make_unique<Server>()) {
    const auto threads = static_cast<std::size_t>(m_options.threads > 0 ? m_options.threads : 1);
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    m_server->set_tcp_nodelay(true);
    // cpp-httplib's default is SO_REUSEPORT, which lets a second server bind the same port and quietly take half
    // of the requests; SO_REUSEADDR alone still allows a restart while old connections linger.
    m_server->set_socket_options([](socket_t socket) {
        int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    m_server->set_read_timeout(kTimeoutSeconds);
    m_server->set_write_timeout(kTimeoutSeconds);
    m_server->set_keep_alive_timeout(kTimeoutSeconds);
    m_server->set_keep_alive_max_count(kKeepAliveRequests);
    m_server->set_payload_max_length(kMaxBody);

    // Every request is answered here, before cpp-httplib's own routing, which matches paths with std::regex.
    m_server->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        // A body that cpp-httplib reads (and drains, within the payload limit) is let through so the connection
        // stays usable; the request then ends as a 404, which the error handler turns into 405.
        if (request.method != "GET" && request.method != "HEAD" && carriesBody(request) && bodyIsRead(request))
            return httplib::Server::HandlerResponse::Unhandled;
        answer(request, response);
        return httplib::Server::HandlerResponse::Handled;
    });
    m_server->set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request& request, httplib::Response& response) {
            const auto& method = request.method;
            // cpp-httplib refuses methods it does not know with 400 before any handler runs.
            const bool unknownMethod = response.status == 400 && isMethodToken(method) && !isKnownMethod(method);
            const bool drainedBody = response.status == 404 && !method.empty() && method != "GET" && method != "HEAD";
            if (unknownMethod || drainedBody)
                refuseMethod(response);
            if (response.body.empty() && request.method != "HEAD") {
                response.body = reasonPhrase(response.status);
                response.set_header("Content-Type", "text/plain");
            }
            if (!response.has_header("X-Content-Type-Options"))
                response.set_header("X-Content-Type-Options", "nosniff");
            return httplib::Server::HandlerResponse::Handled;
        }));
    m_server->set_exception_handler(
        [this](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
            try {
                if (error)
                    std::rethrow_exception(error);
            } catch (const std::exception& e) {
                m_logLine(std::string("request failed: ") + e.what() + "\n");
            } catch (...) {
                m_logLine("request failed\n");
            }
            response.status = 500;
            response.body.clear();
        });
    m_server->set_logger([this](const httplib::Request& request, const httplib::Response& response) {
        const std::size_t bytes = request.method == "HEAD" ? 0 : response.body.size();
        m_logLine(accessLogLine(request.remote_addr, static_cast<std::int64_t>(std::time(nullptr)), request.method,
                                request.target, request.version, response.status, bytes));
    });
}

HttpServer::~HttpServer() = default;

void HttpServer::answer(const httplib::Request& request, httplib::Response& response) {
    // cpp-httplib compresses text answers for clients that accept it, with brotli at its slowest setting: seconds
    // of CPU for a long list, on every request. Answers go out as they are; a front web server may compress them.
    const_cast<httplib::Request&>(request).headers.erase("Accept-Encoding");
    Reply reply = m_service.handle(request.method, request.path, request.params);
    response.status = reply.status;
    response.body = std::move(reply.body);
    response.set_header("Content-Type", reply.contentType);
    response.set_header("X-Content-Type-Options", "nosniff");
    for (const auto& [name, value] : reply.headers)
        response.set_header(name, value);
}

int HttpServer::bind() {
    int port = m_options.port;
    if (port == 0)
        port = m_server->bind_to_any_port(m_options.host);
    else if (!m_server->bind_to_port(m_options.host, port))
        port = -1;
    if (port > 0)
        m_server->widenBacklog();
    return port;
}

bool HttpServer::run() {
    return m_server->listen_after_bind();
}

void HttpServer::stop() {
    m_server->stop();
}

bool HttpServer::running() const {
    return m_server->is_running();
}

} // namespace tamberly
