#pragma once

#include "list_text.h"
#include "reporter_secret.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamberly {

class ProxyStore;
struct CheckReport;
struct ProxyRecord;

/// What the list server answers to one request, before any HTTP framing.
struct Reply {
    int status = 200;
    std::string contentType = "text/plain";
    std::string body;
    /// A body shared by every request (a page of the page), sent without a copy; body is empty then.
    std::shared_ptr<const std::string> sharedBody;
    std::vector<std::pair<std::string, std::string>> headers;
};

/// Decoded query parameters; a name may come more than once.
using QueryParams = std::multimap<std::string, std::string>;

struct ServiceOptions {
    /// Distinct reporters within reportWindow after which an entry leaves the list.
    int deadAfter = 3;
    /// Seconds a report counts.
    std::int64_t reportWindow = 24 * 3600;
    /// New entries wait for approval instead of being published at once.
    bool moderate = false;
    /// With moderate: entries that may wait at most (0: no cap).
    int maxPending = 10000;
    /// Loopback, link-local and private addresses and localhost are taken (a list for a LAN).
    bool allowPrivateEntries = false;
    /// The server checks entries: a new one waits for its first check, a dead report asks for a check (which
    /// withdraws the entry if it fails) instead of counting reporters, and the page shows each entry's last check.
    bool verify = false;
};

/// The list server's requests: the list, submissions, dead-proxy reports and the web page. Safe to call from many
/// threads at once: the list and the page are served from shared copies, and writes go to the store one at a time.
class ListService {
public:
    /// Seconds since the epoch.
    using Clock = std::function<std::int64_t()>;

    /// Reports need the secret (without one they fail); the subcommands that only read the list do not. The page is
    /// read through pageStore when given (a second connection to the same database), so that reading a long list
    /// for it never holds up writes; else through store.
    ListService(ProxyStore& store, ServiceOptions options, std::optional<ReporterSecret> secret = std::nullopt,
                Clock clock = {}, ProxyStore* pageStore = nullptr);

    /// Answers one request from a client (IpAddress::clientKey of the address that counted). Any bytes are
    /// accepted in the path and the parameters.
    Reply handle(std::string_view method, std::string_view path, const QueryParams& params,
                 const std::string& client = {});

    /// The published list text, each entry followed by "*"; no database access.
    std::shared_ptr<const ListText> listText() const { return m_list.load(std::memory_order_acquire); }

    /// Rebuilds the cached list when another process (a subcommand, another server) changed the database.
    void refreshIfChangedElsewhere();

    /// Waits until the database may have been changed elsewhere, or the time-out passed; then call
    /// refreshIfChangedElsewhere(). For one watching thread; does not hold up requests.
    void waitForChange(std::chrono::milliseconds timeout);

    /// Where database failures, connection losses and reconnections are told (the server's standard error); none
    /// by default. Set before serving.
    void setErrorSink(std::function<void(const std::string&)> sink);

    /// The checker's share of the list's database, through the service's own connection, so that the list in memory
    /// follows each check without reading the list again. Gives entries without a check due one within period,
    /// then takes the due ones (see ProxyStore::takeDueChecks).
    std::vector<std::string> takeDueChecks(std::int64_t now, std::int64_t lease, int limit, std::int64_t period);
    /// Stores a check's result and updates the list and the page; true when the check withdrew the entry.
    bool recordCheck(const std::string& entry, const CheckReport& report);

    /// Called when a submission or a dead report made a check due (wakes the checker); set before serving.
    void setCheckRequested(std::function<void()> requested) { m_checkRequested = std::move(requested); }

    /// Entries shown on one page of index.php.
    static constexpr std::size_t kPageEntries = 1000;

private:
    struct Pages;

    Reply submit(const QueryParams& params);
    Reply reportDead(const QueryParams& params, const std::string& client);
    Reply page(const QueryParams& params);
    std::shared_ptr<const Pages> currentPages();
    std::shared_ptr<const Pages> renderPages(const std::vector<ProxyRecord>& published) const;
    Reply storeFailure(const std::exception& error);
    bool listed(const std::string& entry) const;
    void rebuildList(); // with m_writeMutex held
    void setList(std::shared_ptr<const ListText> list);

    ProxyStore& m_store;
    ProxyStore* m_pageStore; // with m_pageMutex; null: m_store, with m_writeMutex
    ServiceOptions m_options;
    std::optional<ReporterSecret> m_secret;
    Clock m_clock;
    std::function<void(const std::string&)> m_errorSink;
    std::function<void()> m_checkRequested;
    std::mutex m_writeMutex;
    std::atomic<std::shared_ptr<const ListText>> m_list;
    bool m_refreshDue = false; // a change elsewhere not yet in the list (the rebuild failed); with m_writeMutex
    std::chrono::steady_clock::time_point m_checksShown{}; // by the watching thread only

    // The page, rendered once for every request, again when something on it changed, at most once a second.
    std::mutex m_pageMutex;
    std::atomic<std::shared_ptr<const Pages>> m_pages;
    std::atomic<bool> m_pageStale{true};
    std::chrono::steady_clock::time_point m_pageRendered{}; // with m_pageMutex
};

/// Text with &, <, >, " and ' replaced by their HTML entities.
std::string escapeHtml(std::string_view text);

} // namespace tamberly
