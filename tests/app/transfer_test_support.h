#pragma once

// Shared pieces of the tests that run real requests: the platform in memory with Qt's real HTTP client, a port
// nobody listens on, a set of misbehaving routes, and a watcher that acts from inside the event loop once the server
// has seen a request.

#include "app/qt_http_transfer.h"
#include "support/fake_platform.h"
#include "support/http_test_server.h"

#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace tamberly::test {

using namespace std::chrono_literals;

// Short limits so the failure cases finish quickly; far apart so a busy machine cannot mix them up.
inline constexpr std::chrono::milliseconds kShortStall = 1000ms;
inline constexpr std::chrono::milliseconds kShortTotal = 3000ms;
inline constexpr std::int64_t kSmallCap = 1024;

/// The platform in memory, but for Qt's real HTTP client: the commands against real servers on 127.0.0.1.
class QtTransferPlatform final : public Platform {
public:
    explicit QtTransferPlatform(std::chrono::milliseconds stall = transfer_limits::kStall,
                                std::chrono::milliseconds total = transfer_limits::kTotal,
                                std::int64_t maxBodyBytes = transfer_limits::kMaxBodyBytes)
        : http(stall, total, maxBodyBytes) {}

    FakePlatform fakes;
    QtHttpTransfer http;

    SystemProxy& systemProxy() override { return fakes.proxy; }
    Launcher& launcher() override { return fakes.launcher_; }
    HttpTransfer& transfer() override { return http; }
    RandomSource& random() override { return fakes.random_; }
};

/// A port on 127.0.0.1 that is bound but never listens, so connecting to it is refused.
class ClosedPort {
public:
    ClosedPort() {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("cannot reserve a port");
        m_port = ntohs(address.sin_port);
    }
    ~ClosedPort() { ::close(m_socket); }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    int port() const { return m_port; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port); }

private:
    int m_socket = -1;
    int m_port = 0;
};

/// Answers that a list server may give, each under its own folder so that it can serve as a base URL too:
/// /stall/..., /drip/..., /error500/..., /large/..., /large-chunked/..., /empty/..., /nostar/..., /hop/N/... (N
/// redirects, then a list of one entry) and /loop/... (redirects to itself). Sizes are against kSmallCap.
inline void addFaultyRoutes(HttpTestServer& server) {
    auto gate = server.makeGate();
    server.get("/stall(/.*)?", [gate](const httplib::Request&, httplib::Response& res) {
        gate->wait();
        res.set_content("too late", "text/plain");
    });
    HttpTestServer* owner = &server;
    server.get("/drip(/.*)?", [owner](const httplib::Request&, httplib::Response& res) {
        // Not a text type: the server would gzip a text answer and hold the bytes back in the compressor.
        res.set_chunked_content_provider("application/octet-stream", [owner](std::size_t, httplib::DataSink& sink) {
            std::this_thread::sleep_for(10ms);
            return !owner->stopping() && sink.write("x", 1);
        });
    });
    server.get("/error500(/.*)?", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("<html><body>Database error</body></html>", "text/html");
    });
    server.get("/large(/.*)?", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(static_cast<std::size_t>(kSmallCap) + 1, '*'), "text/plain");
    });
    server.get("/large-chunked(/.*)?", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= static_cast<std::size_t>(4 * kSmallCap)) {
                sink.done();
                return true;
            }
            return sink.write(std::string(256, '*').data(), 256);
        });
    });
    server.get("/empty(/.*)?",
               [](const httplib::Request&, httplib::Response& res) { res.set_content("", "text/plain"); });
    server.get("/nostar(/.*)?",
               [](const httplib::Request&, httplib::Response& res) { res.set_content("no separator", "text/plain"); });
    server.get(R"(/hop/(\d+)(/.*)?)", [](const httplib::Request& req, httplib::Response& res) {
        const int left = std::stoi(req.matches[1]);
        if (left > 0)
            res.set_redirect("/hop/" + std::to_string(left - 1) + req.matches[2].str());
        else
            res.set_content("10.0.0.1:80*", "text/plain");
    });
    server.get("/loop(/.*)?", [](const httplib::Request& req, httplib::Response& res) { res.set_redirect(req.path); });
}

/// Runs action once, from inside the event loop, as soon as the server has received `count` requests.
class RequestWatcher {
public:
    RequestWatcher(const HttpTestServer& server, std::size_t count, std::function<void()> action) {
        m_timer.callOnTimeout([this, &server, count, action = std::move(action)] {
            if (server.requestCount() < count)
                return;
            m_timer.stop();
            action();
        });
        m_timer.start(5);
    }

private:
    QTimer m_timer;
};

} // namespace tamberly::test
