#pragma once

// Proxies of the tests' own, on 127.0.0.1 only, on a port the system picks. Each counts the requests it receives.

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tamberly::test {

class TestProxy {
public:
    enum class Mode {
        Forward,     // an HTTP forwarding proxy for targets on 127.0.0.1
        Slow,        // forwards after `delay`
        Silent,      // takes connections and never answers (nothing accepts them)
        AskLogin,    // answers 407
        OwnPage,     // answers 200 with a page of its own
        Refusing,    // nothing listens on its port
        Socks5,      // a SOCKS5 proxy without login, for targets on 127.0.0.1
        Socks5Login, // a SOCKS5 proxy that takes none of the login methods offered
        // Answers that break HTTP, each after a request:
        HeaderFlood,    // a status line, then header lines as fast as they go, for ever
        LongHeaderLine, // a status line, then one header line that never ends
        EndlessHeaders, // a status line, then a header line every 100 ms, for ever
        BadStatusLine,  // "HTTP/1.1 2x0 OK" and the check page's body
        // Proxies that pass the request's header lines on, connecting out from an address of their own, so that the
        // site sees another address than the user's 127.0.0.1:
        Transparent, // from 127.0.0.2, adding "X-Forwarded-For: <the client's address>"; refuses CONNECT (403)
        Anonymous,   // from 127.0.0.3, adding a Via line; allows CONNECT (200, then connects nowhere)
        Elite,       // from 127.0.0.4, every header line as received, nothing that tells added; allows CONNECT
    };

    explicit TestProxy(Mode mode, std::chrono::milliseconds delay = std::chrono::milliseconds(300))
        : m_mode(mode), m_delay(delay) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("the test proxy could not bind a port on 127.0.0.1");
        m_port = ntohs(address.sin_port);
        if (mode == Mode::Refusing) {
            // The port stays bound (so no one else takes it) but never listens: connections are refused.
            return;
        }
        if (::listen(m_listener, 512) != 0)
            throw std::runtime_error("the test proxy could not listen");
        if (mode != Mode::Silent)
            m_acceptor = std::thread([this] { acceptLoop(); });
    }

    ~TestProxy() {
        m_stopping = true;
        ::shutdown(m_listener, SHUT_RDWR);
        if (m_acceptor.joinable())
            m_acceptor.join();
        {
            std::lock_guard lock(m_mutex);
            for (const int fd : m_open)
                ::shutdown(fd, SHUT_RDWR);
        }
        for (auto& worker : m_workers)
            worker.join();
        for (const int fd : m_open)
            ::close(fd);
        ::close(m_listener);
    }

    TestProxy(const TestProxy&) = delete;
    TestProxy& operator=(const TestProxy&) = delete;

    int port() const { return m_port; }
    std::string entry() const { return "127.0.0.1:" + std::to_string(m_port); }
    int requests() const { return m_requests; }
    /// Tunnels opened (CONNECT answered 200) and closed again by the client.
    int tunnelsClosed() const { return m_tunnelsClosed; }
    /// The request lines received, in order.
    std::vector<std::string> requestLines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    void acceptLoop() {
        while (!m_stopping) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                if (m_stopping)
                    return;
                continue;
            }
            std::lock_guard lock(m_mutex);
            m_open.push_back(client);
            m_workers.emplace_back([this, client] { serve(client); });
        }
    }

    static bool sendAll(int fd, const std::string& data) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    static bool readExactly(int fd, unsigned char* into, std::size_t size) {
        std::size_t got = 0;
        while (got < size) {
            const ssize_t n = ::recv(fd, into + got, size - got, 0);
            if (n <= 0)
                return false;
            got += static_cast<std::size_t>(n);
        }
        return true;
    }

    // The SOCKS5 greeting and CONNECT; the port asked for when it was 127.0.0.1, else 0.
    int socksHandshake(int client) {
        unsigned char b[262];
        if (!readExactly(client, b, 2) || b[0] != 5 || !readExactly(client, b + 2, b[1]))
            return 0;
        if (m_mode == Mode::Socks5Login) {
            ++m_requests;
            sendAll(client, std::string("\x05\xFF", 2));
            return 0;
        }
        sendAll(client, std::string("\x05\x00", 2));
        if (!readExactly(client, b, 4) || b[1] != 1)
            return 0;
        std::string host;
        if (b[3] == 1) {
            if (!readExactly(client, b + 4, 4))
                return 0;
            host = std::to_string(b[4]) + "." + std::to_string(b[5]) + "." + std::to_string(b[6]) + "." +
                   std::to_string(b[7]);
        } else if (b[3] == 3) {
            if (!readExactly(client, b + 4, 1) || !readExactly(client, b + 5, b[4]))
                return 0;
            host.assign(reinterpret_cast<char*>(b + 5), b[4]);
        } else {
            return 0;
        }
        if (!readExactly(client, b, 2) || host != "127.0.0.1")
            return 0;
        sendAll(client, std::string("\x05\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10));
        return b[0] << 8 | b[1];
    }

    void serve(int client) {
        int socksPort = 0;
        if (m_mode == Mode::Socks5 || m_mode == Mode::Socks5Login) {
            socksPort = socksHandshake(client);
            if (socksPort == 0) {
                ::shutdown(client, SHUT_RDWR);
                return;
            }
        }
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        const std::string line = head.substr(0, head.find("\r\n"));
        if (!line.empty()) {
            ++m_requests;
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
        }
        switch (m_mode) {
        case Mode::AskLogin:
            sendAll(client, "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
                            "realm=\"test\"\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            break;
        case Mode::OwnPage: {
            const std::string page = "<html><body>Welcome to the hotel network</body></html>";
            sendAll(client, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
            break;
        }
        case Mode::Socks5: {
            // The tunnelled request goes on as it came, in origin form.
            const std::size_t at = line.find(' ');
            forward(client, "GET http://127.0.0.1:" + std::to_string(socksPort) +
                                line.substr(at + 1, line.rfind(' ') - at - 1) + " HTTP/1.1");
            break;
        }
        case Mode::HeaderFlood:
        case Mode::LongHeaderLine:
        case Mode::EndlessHeaders: {
            const std::string piece = m_mode == Mode::HeaderFlood      ? "X-Flood: " + std::string(100, 'a') + "\r\n"
                                      : m_mode == Mode::LongHeaderLine ? std::string(4096, 'a')
                                                                       : std::string("X-More: 1\r\n");
            bool going =
                sendAll(client, m_mode == Mode::LongHeaderLine ? "HTTP/1.1 200 OK\r\nX-Long: " : "HTTP/1.1 200 OK\r\n");
            while (going && !m_stopping) {
                going = sendAll(client, piece);
                if (m_mode == Mode::EndlessHeaders)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            break;
        }
        case Mode::BadStatusLine:
            sendAll(client, "HTTP/1.1 2x0 OK\r\nContent-Length: 17\r\nConnection: close\r\n\r\ntamberly-check-ok");
            break;
        case Mode::Transparent:
        case Mode::Anonymous:
        case Mode::Elite:
            if (line.rfind("CONNECT ", 0) == 0) {
                if (m_mode == Mode::Transparent) {
                    sendAll(client, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    break;
                }
                sendAll(client, "HTTP/1.1 200 Connection established\r\n\r\n");
                while (::recv(client, buffer, sizeof buffer, 0) > 0) {
                }
                ++m_tunnelsClosed;
                break;
            }
            relay(client, line, head);
            break;
        case Mode::Slow:
            for (auto waited = std::chrono::milliseconds(0); waited < m_delay && !m_stopping;
                 waited += std::chrono::milliseconds(10))
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            forward(client, line);
            break;
        default:
            forward(client, line);
        }
        ::shutdown(client, SHUT_RDWR);
    }

    // The request to 127.0.0.1 with its header lines as they came (plus the mode's own and "Connection: close"),
    // from the mode's address.
    void relay(int client, const std::string& line, const std::string& head) {
        const std::string prefix = "GET http://127.0.0.1:";
        if (line.compare(0, prefix.size(), prefix) != 0) {
            sendAll(client, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
        }
        const std::size_t portEnd = line.find('/', prefix.size());
        const std::size_t pathEnd = line.find(' ', portEnd);
        const int port = std::stoi(line.substr(prefix.size(), portEnd - prefix.size()));
        const std::size_t headersStart = head.find("\r\n") + 2;
        std::string headers = head.substr(headersStart, head.find("\r\n\r\n") + 2 - headersStart);
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        ::getpeername(client, reinterpret_cast<sockaddr*>(&peer), &peerLength);
        char peerText[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &peer.sin_addr, peerText, sizeof peerText);
        if (m_mode == Mode::Transparent)
            headers += "X-Forwarded-For: " + std::string(peerText) + "\r\n";
        if (m_mode == Mode::Anonymous)
            headers += "Via: 1.1 test-proxy\r\n";
        // One request per connection: the site closes after its answer, whatever a passed-on line asked for.
        headers += "Connection: close\r\n";
        const char* from = m_mode == Mode::Transparent ? "127.0.0.2"
                           : m_mode == Mode::Anonymous ? "127.0.0.3"
                                                       : "127.0.0.4";
        const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in source{};
        source.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &source.sin_addr);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (::bind(upstream, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0 &&
            ::connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            sendAll(upstream, "GET " + line.substr(portEnd, pathEnd - portEnd) + " HTTP/1.1\r\n" + headers + "\r\n")) {
            char buffer[4096];
            ssize_t n;
            while ((n = ::recv(upstream, buffer, sizeof buffer, 0)) > 0)
                if (!sendAll(client, std::string(buffer, static_cast<std::size_t>(n))))
                    break;
        }
        ::close(upstream);
    }

    // "GET http://127.0.0.1:PORT/path HTTP/1.1": the same GET to 127.0.0.1:PORT, its answer relayed back whole.
    void forward(int client, const std::string& line) {
        const std::string prefix = "GET http://127.0.0.1:";
        if (line.compare(0, prefix.size(), prefix) != 0) {
            sendAll(client, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
        }
        const std::size_t portEnd = line.find('/', prefix.size());
        const std::size_t pathEnd = line.find(' ', portEnd);
        const int port = std::stoi(line.substr(prefix.size(), portEnd - prefix.size()));
        const std::string path = line.substr(portEnd, pathEnd - portEnd);
        const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (::connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            sendAll(upstream, "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                  "\r\nConnection: close\r\n\r\n")) {
            char buffer[4096];
            ssize_t n;
            while ((n = ::recv(upstream, buffer, sizeof buffer, 0)) > 0)
                if (!sendAll(client, std::string(buffer, static_cast<std::size_t>(n))))
                    break;
        }
        ::close(upstream);
    }

    Mode m_mode;
    std::chrono::milliseconds m_delay;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_requests{0};
    std::atomic<int> m_tunnelsClosed{0};
    std::thread m_acceptor;
    mutable std::mutex m_mutex;
    std::vector<std::thread> m_workers;
    std::vector<int> m_open;
    std::vector<std::string> m_lines;
};

} // namespace tamberly::test
