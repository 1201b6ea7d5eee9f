#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tamberly {

class ListService;
class ProxyCheck;

struct VerifyOptions {
    /// Check entries before they are published and again every recheck seconds.
    bool enabled = false;
    /// Where the world reaches this server: the check fetches PUBLIC-URL/Tamberly/check.php through each entry.
    std::string publicUrl;
    std::int64_t recheck = 3600;
    /// Checks running at once, each given timeLimit.
    int atOnce = 16;
    std::chrono::milliseconds timeLimit{5000};
    /// With moderation, an entry that works still waits for approval.
    bool moderate = false;
    /// Loopback, private and link-local addresses may be checked (a LAN's list).
    bool allowPrivateEntries = false;
};

/// Where a check of an entry may connect: the entry with its host resolved once to an address the list's rules
/// allow, so that the connection goes to the address that was judged (a name cannot resolve elsewhere meanwhile).
struct PinnedEntry {
    /// "address:port" (an IPv6 address in brackets); empty when the entry may not be checked.
    std::string target;
    /// Why not, for the entry's state.
    std::string refusal;
};

/// Resolves the entry's host (a name through the system's resolver, once) and applies the list's address rules to
/// every address it has.
PinnedEntry pinEntry(const std::string& entry, bool allowPrivate);

/// Checks the entries whose check is due, with the desktop program's check engine, on a thread of its own: several
/// servers on one database share the work, each due check taken by one of them.
class ProxyVerifier {
public:
    ProxyVerifier(ListService& service, VerifyOptions options, std::function<void(const std::string&)> log);
    ~ProxyVerifier();
    ProxyVerifier(const ProxyVerifier&) = delete;
    ProxyVerifier& operator=(const ProxyVerifier&) = delete;

    /// Checks until stop(); for one thread.
    void run();
    /// From any thread: ends run() soon, abandoning the checks under way (they are taken again after their lease).
    void stop();
    /// From any thread: look for due checks now (a report asked for one).
    void wake();

private:
    bool checkDue();

    ListService& m_service;
    VerifyOptions m_options;
    std::function<void(const std::string&)> m_log;
    std::unique_ptr<ProxyCheck> m_check;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_woken = false;
};

} // namespace tamberly
