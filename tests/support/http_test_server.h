#pragma once

// An HTTP server for tests: 127.0.0.1 only, on a port the system picks, serving on its own thread and recording
// every request it receives. Routes are set by the test before start().

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tamberly::test {

/// One request as the server received it.
struct RecordedRequest {
    std::string method;
    std::string path;       // decoded, without the query
    std::string target;     // the request target exactly as sent, query included
    std::string query;      // the raw text after "?", empty when there is none
    httplib::Params params; // the query parameters, decoded
};

/// A one-way gate for routes that must wait until the test lets them go. The server opens every gate it made
/// when it stops, so a failing test never leaves a route waiting for ever.
class Gate {
public:
    void open() {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }
    void wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

class HttpTestServer {
public:
    using Handler = httplib::Server::Handler;

    HttpTestServer() {
        m_server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
            record(req);
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }

    ~HttpTestServer() { stop(); }

    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    /// Adds a GET route (an httplib pattern, e.g. "/Tamberly/update.php"). Only before start().
    HttpTestServer& get(const std::string& pattern, Handler handler) {
        if (m_thread.joinable())
            throw std::logic_error("routes must be set before the server starts");
        m_server.Get(pattern, std::move(handler));
        return *this;
    }

    /// The underlying server, for settings get() does not cover. Only before start().
    httplib::Server& raw() { return m_server; }

    /// Binds 127.0.0.1 on a free port and serves on a thread; returns once connections are accepted.
    void start() {
        m_port = m_server.bind_to_any_port("127.0.0.1");
        if (m_port <= 0)
            throw std::runtime_error("the test server could not bind a port on 127.0.0.1");
        m_thread = std::thread([this] {
            m_server.listen_after_bind();
            m_listenReturned = true;
        });
        // stop() only takes effect once the accept loop runs, so wait for it here.
        while (!m_server.is_running() && !m_listenReturned)
            std::this_thread::yield();
    }

    /// Opens every gate, stops serving and waits for the thread. Safe to call twice. A client that still holds
    /// an idle keep-alive connection delays this by up to five seconds: destroy clients before their server.
    void stop() {
        m_stopping = true;
        {
            std::lock_guard lock(m_mutex);
            for (auto& gate : m_gates)
                gate->open();
        }
        if (m_thread.joinable()) {
            m_server.stop();
            m_thread.join();
        }
    }

    int port() const { return m_port; }
    /// "http://127.0.0.1:PORT", no trailing "/".
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(m_port); }

    /// True once stop() has begun; long-running routes poll it to end early.
    bool stopping() const { return m_stopping; }

    std::vector<RecordedRequest> requests() const {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    std::size_t requestCount() const {
        std::lock_guard lock(m_mutex);
        return m_requests.size();
    }

    /// A gate that this server opens when it stops.
    std::shared_ptr<Gate> makeGate() {
        auto gate = std::make_shared<Gate>();
        std::lock_guard lock(m_mutex);
        m_gates.push_back(gate);
        if (m_stopping)
            gate->open();
        return gate;
    }

private:
    void record(const httplib::Request& req) {
        RecordedRequest r{req.method, req.path, req.target, {}, req.params};
        if (const auto mark = req.target.find('?'); mark != std::string::npos)
            r.query = req.target.substr(mark + 1);
        std::lock_guard lock(m_mutex);
        m_requests.push_back(std::move(r));
    }

    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_listenReturned{false};
    mutable std::mutex m_mutex;
    std::vector<RecordedRequest> m_requests;
    std::vector<std::shared_ptr<Gate>> m_gates;
};

} // namespace tamberly::test
