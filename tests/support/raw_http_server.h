#pragma once

// A TCP server on 127.0.0.1 that answers with whatever bytes a route writes, well-formed HTTP or not, for tests of
// list servers that misbehave on purpose. It sees when a client hangs up, so a test can tell that a request given
// up on really closed its connection.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tamberly::test {

/// Each connection runs on a thread of its own; stop() cuts every connection, so a route that writes for ever ends.
class RawServer {
public:
    /// Gets the connection and the request head (request line and headers); writes what it likes.
    using Route = std::function<void(RawServer& server, int fd, const std::string& head)>;

    RawServer() {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
            ::listen(m_listener, 16) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        m_port = ntohs(address.sin_port);
    }
    ~RawServer() { stop(); }
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    /// Routes by the first folder of the request path: "/name/..." goes to route(name). Only before start().
    void route(const std::string& name, Route route) { m_routes["/" + name] = std::move(route); }

    void start() {
        m_acceptor = std::thread([this] {
            for (;;) {
                const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) {
                    if (errno == EINTR || errno == ECONNABORTED)
                        continue;
                    return;
                }
                std::lock_guard lock(m_mutex);
                if (m_stopping) {
                    ::close(fd);
                    return;
                }
                m_connections.push_back(fd);
                m_workers.emplace_back([this, fd] { serve(fd); });
            }
        });
    }

    void stop() {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            m_stopping = true;
            for (const int fd : m_connections)
                if (fd >= 0)
                    ::shutdown(fd, SHUT_RDWR);
        }
        m_changed.notify_all();
        ::shutdown(m_listener, SHUT_RDWR);
        if (m_acceptor.joinable())
            m_acceptor.join();
        for (auto& worker : m_workers)
            worker.join();
        for (const int fd : m_connections)
            if (fd >= 0)
                ::close(fd);
        ::close(m_listener);
    }

    std::string url(const std::string& name) const { return "http://127.0.0.1:" + std::to_string(m_port) + "/" + name; }
    /// Bytes the routes have written so far, on all connections.
    std::int64_t sentBytes() const { return m_sent; }
    /// Requests received so far.
    int requests() const { return m_requests; }

    /// Waits until `count` connections have ended (the client hung up, or a route reset it), at most `bound`
    /// (against a hang only); true when they have.
    bool waitForClosed(int count, std::chrono::milliseconds bound = std::chrono::seconds(30)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, bound, [&] { return m_closed >= count; });
    }

    /// Ends the connection with a reset instead of an orderly close.
    void reset(int fd) {
        std::lock_guard lock(m_mutex);
        std::replace(m_connections.begin(), m_connections.end(), fd, -1);
        const linger abortive{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        ::close(fd);
    }

    /// Writes all of data; false once the client is gone or the server stops.
    bool send(int fd, const std::string& data) {
        std::size_t sent = 0;
        while (sent < data.size() && !m_stopping) {
            const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
            m_sent += n;
        }
        return sent == data.size();
    }

private:
    void serve(int fd) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        ++m_requests;
        const std::size_t pathStart = head.find(' ') + 1;
        const std::string path = head.substr(pathStart, head.find(' ', pathStart) - pathStart);
        const auto route = m_routes.find(path.substr(0, path.find('/', 1)));
        if (route == m_routes.end())
            send(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        else
            route->second(*this, fd, head);
        bool reset = false;
        {
            std::lock_guard lock(m_mutex);
            reset = std::find(m_connections.begin(), m_connections.end(), fd) == m_connections.end();
            if (!reset)
                ::shutdown(fd, SHUT_WR);
        }
        // The answer is out: whatever the client sends now is read and dropped until it hangs up.
        while (!reset && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            ++m_closed;
        }
        m_changed.notify_all();
    }

    int m_listener = -1;
    int m_port = 0;
    std::map<std::string, Route> m_routes;
    std::thread m_acceptor;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int> m_connections;
    std::vector<std::thread> m_workers;
    int m_closed = 0;
    std::atomic<int> m_requests{0};
    std::atomic<bool> m_stopping{false};
    std::atomic<std::int64_t> m_sent{0};
};

/// Sends piece again and again until the client hangs up or the server stops, waiting pace between pieces.
inline void sendForEver(RawServer& server, int fd, const std::string& piece,
                        std::chrono::milliseconds pace = std::chrono::milliseconds(0)) {
    while (server.send(fd, piece))
        std::this_thread::sleep_for(pace);
}

} // namespace tamberly::test
