#pragma once

// The pieces of the tests that run real requests: short limits, a port nobody listens on, and a set of
// misbehaving routes on the test server.

#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>

namespace tamberly::test {

using namespace std::chrono_literals;

// Short limits so the failure cases finish quickly; far apart so a busy machine cannot mix them up.
inline constexpr std::chrono::milliseconds kShortStall = 1000ms;
inline constexpr std::chrono::milliseconds kShortTotal = 3000ms;
inline constexpr std::int64_t kSmallCap = 1024;

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

} // namespace tamberly::test
