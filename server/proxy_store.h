#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tamberly {

/// A database failure; busy() tells a lock that outlasted the busy time-out from a real fault.
class StoreError : public std::runtime_error {
public:
    StoreError(const std::string& what, bool busy = false) : std::runtime_error(what), m_busy(busy) {}
    bool busy() const { return m_busy; }

private:
    bool m_busy;
};

enum class ProxyState { Pending, Published, Withdrawn };

struct ProxyRecord {
    std::string entry;
    ProxyState state = ProxyState::Pending;
    std::int64_t addedAt = 0; ///< seconds since the epoch, UTC
    int reports = 0;
};

/// The list server's proxies in one SQLite file (WAL mode, so other processes may read and write it meanwhile).
/// Entries handed in must already be in their stored form (see checkEntry). Not thread-safe: one caller at a time.
class ProxyStore {
public:
    /// Opens the database, creating it and its schema when the file is new. Throws StoreError, also when the file
    /// is some other database.
    explicit ProxyStore(const std::string& path);
    ~ProxyStore();
    ProxyStore(const ProxyStore&) = delete;
    ProxyStore& operator=(const ProxyStore&) = delete;

    enum class AddResult { Added, AlreadyKnown, Readded };
    /// A submission: a new entry is published, or with moderate waits for approve(); a withdrawn entry comes back
    /// the same way with its reports cleared; a pending or published entry stays as it is.
    AddResult add(const std::string& entry, bool moderate, std::int64_t now);

    enum class ReportResult { Unknown, Counted, Withdrawn, AlreadyWithdrawn };
    /// Counts a dead-proxy report against a published entry and withdraws it once it has deadAfter reports.
    /// Pending and absent entries are Unknown.
    ReportResult report(const std::string& entry, int deadAfter);

    enum class ApproveResult { Unknown, Approved, AlreadyPublished };
    /// Publishes a pending or withdrawn entry (reports cleared).
    ApproveResult approve(const std::string& entry);

    /// Deletes an entry whatever its state; false when there was none.
    bool remove(const std::string& entry);

    struct ImportCount {
        int added = 0;
        int republished = 0;
        int alreadyPublished = 0;
    };
    /// Publishes every entry in one transaction: new ones are added at the end, pending and withdrawn ones published.
    ImportCount importEntries(const std::vector<std::string>& entries, std::int64_t now);

    /// Entries in one state, in the order they were added.
    std::vector<ProxyRecord> entries(ProxyState state);

    /// True when another connection (another process) has committed a change since the last call.
    bool changedElsewhere();

private:
    class Statement;
    class Transaction;

    void exec(const char* sql);
    void createSchema();
    [[noreturn]] void fail(const std::string& what, int code) const;
    bool find(const std::string& entry, ProxyState& state, int& reports);
    void publish(const std::string& entry, bool moderate, std::int64_t now);

    sqlite3* m_db = nullptr;
    std::string m_path;
    std::int64_t m_dataVersion = -1;
};

} // namespace tamberly
