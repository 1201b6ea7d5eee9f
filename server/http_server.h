#pragma once

#include "ip_address.h"
#include "list_service.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tamberly {

struct HttpOptions {
    std::string host = "127.0.0.1";
    int port = 8642; ///< 0 picks a free port
    /// Event-loop threads; 0 gives one per core.
    int threads = 0;
    /// Open connections at most; at the cap the connection idle for the longest is closed for a new one.
    int maxConnections = 10000;
    /// Open connections from one client address (an IPv4 address or an IPv6 /64) at most; trusted proxies are not
    /// counted.
    int maxConnectionsPerClient = 64;
    /// Peers whose X-Forwarded-For names the client.
    std::vector<IpRange> trustedProxies;
    /// Submissions and reports per client: a burst of writeBurst, then one every writeSeconds; 0 turns it off.
    int writeBurst = 20;
    double writeSeconds = 2;
};

/// The list server's HTTP side: an event-driven HTTP/1.1 engine (Boost.Beast's parser on Asio, one event loop per
/// thread) with limits, deadlines and an access log. `update.php` is answered on the event loops from the cached
/// list; every other request that ListService answers runs on a small pool of worker threads, so a busy database
/// never holds up the list.
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
    /// Ends run() from any thread: stops accepting, closes idle connections and lets answers under way finish.
    /// Does nothing before run() has started.
    void stop();
    bool running() const;

private:
    class Engine;
    std::unique_ptr<Engine> m_engine;
};

/// A request target split as the server reads it: the path before the first "?", percent-decoded, and the query
/// after it, split at "&" into name=value pairs, each percent-decoded with "+" read as a blank. Empty pairs and
/// pairs with an empty name are left out; a name may come more than once.
void splitTarget(std::string_view target, std::string& path, QueryParams& params);

/// One access-log line in the Common Log Format; the request line is cut short and its unsafe bytes written \xNN.
std::string accessLogLine(const std::string& remoteAddress, std::int64_t time, const std::string& method,
                          const std::string& target, const std::string& version, int status, std::size_t bytes);

} // namespace tamberly
