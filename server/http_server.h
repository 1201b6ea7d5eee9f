#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace tamberly {

class ListService;

struct HttpOptions {
    std::string host = "127.0.0.1";
    int port = 8642; ///< 0 picks a free port
    /// Worker threads; each keep-alive connection holds one while it is open.
    int threads = 256;
};

/// The list server's HTTP side: cpp-httplib set up with limits, time-outs and an access log, forwarding every
/// request to a ListService.
class HttpServer {
public:
    /// logLine receives one access-log line (with its newline) per request; it may be called from many threads.
    HttpServer(ListService& service, HttpOptions options, std::function<void(const std::string&)> logLine);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    /// Binds the listening socket; returns the port, or -1 when it cannot be bound.
    int bind();
    /// Serves until stop(); false when it could not start.
    bool run();
    /// Ends run() from any thread; does nothing before run() has started.
    void stop();
    bool running() const;

private:
    class Server;
    void answer(const httplib::Request& request, httplib::Response& response);

    ListService& m_service;
    HttpOptions m_options;
    std::function<void(const std::string&)> m_logLine;
    std::unique_ptr<Server> m_server;
};

/// One access-log line in the Common Log Format; the request line is cut short and its unsafe bytes written \xNN.
std::string accessLogLine(const std::string& remoteAddress, std::int64_t time, const std::string& method,
                          const std::string& target, const std::string& version, int status, std::size_t bytes);

} // namespace tamberly
