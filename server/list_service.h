#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamberly {

class ProxyStore;
struct ProxyRecord;

/// What the list server answers to one request, before any HTTP framing.
struct Reply {
    int status = 200;
    std::string contentType = "text/plain";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

/// Decoded query parameters; a name may come more than once.
using QueryParams = std::multimap<std::string, std::string>;

struct ServiceOptions {
    /// Dead-proxy reports after which an entry leaves the list.
    int deadAfter = 1;
    /// New entries wait for approval instead of being published at once.
    bool moderate = false;
};

/// The list server's requests: the list, submissions, dead-proxy reports and the web page. Safe to call from many
/// threads at once: the list is served from a cached copy, and writes go to the store one at a time.
class ListService {
public:
    /// Seconds since the epoch.
    using Clock = std::function<std::int64_t()>;

    ListService(ProxyStore& store, ServiceOptions options, Clock clock = {});

    /// Answers one request. Any bytes are accepted in the path and the parameters.
    Reply handle(std::string_view method, std::string_view path, const QueryParams& params);

    /// The published list text, each entry followed by "*"; no database access.
    std::shared_ptr<const std::string> listText() const { return m_list.load(std::memory_order_acquire); }

    /// Rebuilds the cached list when another process (a subcommand, another server) changed the database.
    void refreshIfChangedElsewhere();

    /// Waits until the database may have been changed elsewhere, or the time-out passed; then call
    /// refreshIfChangedElsewhere(). For one watching thread; does not hold up requests.
    void waitForChange(std::chrono::milliseconds timeout);

    /// Where database failures, connection losses and reconnections are told (the server's standard error); none
    /// by default. Set before serving.
    void setErrorSink(std::function<void(const std::string&)> sink);

private:
    Reply submit(const QueryParams& params);
    Reply reportDead(const QueryParams& params);
    Reply page();
    Reply storeFailure(const std::exception& error);
    void rebuildList();                                        // with m_writeMutex held
    void storeList(const std::vector<ProxyRecord>& published); // with m_writeMutex held

    ProxyStore& m_store;
    ServiceOptions m_options;
    Clock m_clock;
    std::function<void(const std::string&)> m_errorSink;
    std::mutex m_writeMutex;
    std::atomic<std::shared_ptr<const std::string>> m_list;
    bool m_refreshDue = false; // a change elsewhere not yet in the list (the rebuild failed); with m_writeMutex
};

/// Text with &, <, >, " and ' replaced by their HTML entities.
std::string escapeHtml(std::string_view text);

} // namespace tamberly
