#pragma once

// Servers and proxies of the Windows tests' own over Winsock, on 127.0.0.1 only, on ports the system picks: a page
// server with routes, a judge that answers what it saw, and HTTP proxies that forward, refuse, stall or misbehave.

#include "net/check_grades.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace tamberly::test {

inline std::string httpAnswer(const std::string& body, int status = 200, const std::string& fields = {}) {
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n" + fields + "\r\n" + body;
}

/// Accepts on 127.0.0.1 and hands each connection, with its request head, to a handler on a thread of its own.
class LoopbackServer {
public:
    /// Gets the connection, the request head and the peer's address; writes what it likes.
    using Handler = std::function<void(SOCKET client, const std::string& head, const std::string& peer)>;

    /// listen false: the port is bound and never listens, so connections to it are refused.
    /// host: where it listens, on 127.0.0.0/8.
    explicit LoopbackServer(Handler handler, bool listen = true, const char* host = "127.0.0.1")
        : m_handler(std::move(handler)), m_address(host) {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        m_listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        ::inet_pton(AF_INET, m_address.c_str(), &address.sin_addr);
        int size = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("cannot bind a port on 127.0.0.1");
        m_port = ntohs(address.sin_port);
        if (!listen)
            return;
        if (::listen(m_listener, 256) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~LoopbackServer() {
        m_stopping = true;
        ::closesocket(m_listener);
        if (m_acceptor.joinable())
            m_acceptor.join();
        {
            std::lock_guard lock(m_mutex);
            for (const SOCKET client : m_clients)
                ::shutdown(client, SD_BOTH);
        }
        for (auto& worker : m_workers)
            worker.join();
        ::WSACleanup();
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return m_port; }
    std::string entry() const { return m_address + ":" + std::to_string(m_port); }
    std::string url(const std::string& path) const { return "http://" + entry() + path; }
    int requests() const { return m_requests; }
    std::vector<std::string> requestLines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    bool stopping() const { return m_stopping; }

    static std::string readHead(SOCKET client) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            const int got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            head.append(buffer, static_cast<std::size_t>(got));
        }
        return head;
    }
    static void sendAll(SOCKET client, const std::string& data) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const int n = ::send(client, data.data() + sent, static_cast<int>(data.size() - sent), 0);
            if (n <= 0)
                return;
            sent += static_cast<std::size_t>(n);
        }
    }
    /// Closes after the peer has read what was sent.
    static void finish(SOCKET client) {
        ::shutdown(client, SD_SEND);
        char buffer[512];
        while (::recv(client, buffer, sizeof buffer, 0) > 0) {
        }
    }

private:
    void acceptLoop() {
        for (;;) {
            sockaddr_in peer{};
            int size = sizeof peer;
            const SOCKET client = ::accept(m_listener, reinterpret_cast<sockaddr*>(&peer), &size);
            if (client == INVALID_SOCKET)
                return;
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
            std::lock_guard lock(m_mutex);
            m_clients.push_back(client);
            m_workers.emplace_back([this, client, address = std::string(text)] {
                const std::string head = readHead(client);
                if (!head.empty()) {
                    ++m_requests;
                    std::lock_guard lines(m_mutex);
                    m_lines.push_back(head.substr(0, head.find("\r\n")));
                }
                if (!head.empty())
                    m_handler(client, head, address);
                ::closesocket(client);
            });
        }
    }

    Handler m_handler;
    std::string m_address;
    SOCKET m_listener = INVALID_SOCKET;
    int m_port = 0;
    std::atomic<int> m_requests{0};
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::vector<SOCKET> m_clients;
    std::thread m_acceptor;
    std::vector<std::thread> m_workers;
};

/// The request's path from its request line: "GET /path HTTP/1.1" or a proxy's "GET http://host:port/path ...".
inline std::string requestPath(const std::string& head) {
    const std::size_t start = head.find(' ') + 1;
    std::string target = head.substr(start, head.find(' ', start) - start);
    if (target.rfind("http://", 0) == 0) {
        const std::size_t slash = target.find('/', 7);
        target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    return target;
}

/// The header lines of a request head, as they came.
inline std::vector<std::pair<std::string, std::string>> requestHeaders(const std::string& head) {
    std::vector<std::pair<std::string, std::string>> headers;
    std::size_t at = head.find("\r\n");
    while (at != std::string::npos) {
        const std::size_t end = head.find("\r\n", at + 2);
        if (end == std::string::npos || end == at + 2)
            break;
        const std::string line = head.substr(at + 2, end - at - 2);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos)
            headers.emplace_back(line.substr(0, colon), line.substr(line.find_first_not_of(' ', colon + 1)));
        at = end;
    }
    return headers;
}

/// A page server: each path answers with the raw answer its route gives; other paths 404. "/judge" answers as the
/// list server's judge does.
class PageServer {
public:
    using Route = std::function<std::string()>;
    explicit PageServer(std::map<std::string, Route> routes)
        : m_routes(std::move(routes)),
          m_server([this](SOCKET client, const std::string& head, const std::string& peer) {
              const std::string path = requestPath(head);
              std::string answer;
              if (path == "/judge") {
                  answer = httpAnswer(formatJudgeAnswer({peer, requestHeaders(head)}));
              } else {
                  const auto route = m_routes.find(path);
                  answer = route == m_routes.end() ? httpAnswer("not here", 404) : route->second();
              }
              LoopbackServer::sendAll(client, answer);
              LoopbackServer::finish(client);
          }) {}
    std::string url(const std::string& path) const { return m_server.url(path); }
    int requests() const { return m_server.requests(); }

private:
    std::map<std::string, Route> m_routes;
    LoopbackServer m_server;
};

/// An HTTP proxy for targets on 127.0.0.1. It listens on 127.0.0.2: Wine's WinHTTP sends a proxy the request's
/// path alone, not its whole URL, when the proxy's host is the page's own, whatever the ports.
class WinTestProxy {
public:
    enum class Mode {
        Elite,          // forwards the request as it came, from 127.0.0.2, so a judge sees another address
        Anonymous,      // forwards and adds a Via line
        Transparent,    // forwards and adds X-Forwarded-For with the client's address
        Slow,           // forwards after `delay`
        Silent,         // reads the request and never answers
        AskLogin,       // answers 407
        OwnPage,        // answers 200 with a page of its own
        Refusing,       // nothing listens on its port
        CloseAtOnce,    // closes the connection without a word
        BadStatus,      // answers a status line that is not HTTP's, with the check page's body
        HeaderFlood,    // a status line, then header lines as fast as they go, for ever
        EndlessHeaders, // a status line, then a header line every 100 ms, for ever
        TunnelRefused   // forwards GETs; hangs up on CONNECT
    };

    explicit WinTestProxy(Mode mode, std::chrono::milliseconds delay = std::chrono::milliseconds(300))
        : m_mode(mode), m_delay(delay), m_server([this](SOCKET client, const std::string& head,
                                                        const std::string& peer) { serve(client, head, peer); },
                                                 mode != Mode::Refusing, "127.0.0.2") {}

    std::string entry() const { return m_server.entry(); }
    int requests() const { return m_server.requests(); }
    std::vector<std::string> requestLines() const { return m_server.requestLines(); }

private:
    void serve(SOCKET client, const std::string& head, const std::string& peer) {
        const bool connect = head.rfind("CONNECT ", 0) == 0;
        switch (m_mode) {
        case Mode::Silent:
            while (!m_server.stopping())
                ::Sleep(20);
            return;
        case Mode::AskLogin:
            LoopbackServer::sendAll(client,
                                    httpAnswer("login first", 407, "Proxy-Authenticate: Basic realm=\"x\"\r\n"));
            return LoopbackServer::finish(client);
        case Mode::OwnPage:
            LoopbackServer::sendAll(client, httpAnswer("<html>Welcome to the hotel network</html>"));
            return LoopbackServer::finish(client);
        case Mode::CloseAtOnce:
            return;
        case Mode::HeaderFlood:
        case Mode::EndlessHeaders: {
            const bool flood = m_mode == Mode::HeaderFlood;
            if (::send(client, "HTTP/1.1 200 OK\r\n", 17, 0) <= 0)
                return;
            for (int i = 0; !m_server.stopping(); ++i) {
                const std::string line =
                    "X-Line-" + std::to_string(i) + ": " + std::string(flood ? 200 : 10, 'x') + "\r\n";
                if (::send(client, line.data(), static_cast<int>(line.size()), 0) <= 0)
                    return;
                if (!flood)
                    ::Sleep(100);
            }
            return;
        }
        case Mode::BadStatus:
            LoopbackServer::sendAll(client, "HTTP/1.1 2x0 OK\r\nContent-Length: 17\r\n\r\ntamberly-check-ok");
            return LoopbackServer::finish(client);
        default:
            break;
        }
        if (connect) {
            if (m_mode == Mode::TunnelRefused)
                return;
            // The tunnel "opens" to a far end that does not speak TLS: the client's handshake fails in it.
            LoopbackServer::sendAll(client, "HTTP/1.1 200 Connection established\r\n\r\n");
            ::Sleep(100);
            LoopbackServer::sendAll(client, httpAnswer("plain text, not TLS", 400));
            return LoopbackServer::finish(client);
        }
        if (m_mode == Mode::Slow)
            std::this_thread::sleep_for(m_delay);
        forward(client, head, peer);
    }

    void forward(SOCKET client, const std::string& head, const std::string& peer) {
        // "GET http://127.0.0.1:PORT/path HTTP/1.1": only targets on this machine.
        const std::size_t start = head.find("http://127.0.0.1:");
        if (start == std::string::npos)
            return LoopbackServer::finish(client);
        const int port = std::stoi(head.substr(start + 17));
        std::string request = "GET " + requestPath(head) + " HTTP/1.1\r\n";
        for (const auto& [name, value] : requestHeaders(head)) {
            if (_stricmp(name.c_str(), "Connection") != 0 && _stricmp(name.c_str(), "Proxy-Connection") != 0)
                request += name + ": " + value + "\r\n";
        }
        if (m_mode == Mode::Anonymous)
            request += "Via: 1.1 test-proxy\r\n";
        if (m_mode == Mode::Transparent)
            request += "X-Forwarded-For: " + peer + "\r\n";
        request += "Connection: close\r\n\r\n";

        const SOCKET upstream = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        ::inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
        ::bind(upstream, reinterpret_cast<sockaddr*>(&from), sizeof from);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<u_short>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(upstream, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
            LoopbackServer::sendAll(upstream, request);
            char buffer[4096];
            for (int got; (got = ::recv(upstream, buffer, sizeof buffer, 0)) > 0;)
                LoopbackServer::sendAll(client, std::string(buffer, static_cast<std::size_t>(got)));
        }
        ::closesocket(upstream);
        LoopbackServer::finish(client);
    }

    Mode m_mode;
    std::chrono::milliseconds m_delay;
    LoopbackServer m_server;
};

} // namespace tamberly::test
