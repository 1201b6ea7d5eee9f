#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct pg_conn;
struct pg_result;

namespace tamberly {

/// A database failure; busy() tells a lock that outlasted the busy time-out from a real fault.
class StoreError : public std::runtime_error {
public:
    StoreError(const std::string& what, bool busy = false) : std::runtime_error(what), m_busy(busy) {}
    /// The database cannot be reached (a lost connection): worth trying again later, like busy().
    static StoreError unavailable(const std::string& what) {
        StoreError error(what, true);
        error.m_unavailable = true;
        return error;
    }
    bool busy() const { return m_busy; }
    bool unavailable() const { return m_unavailable; }

private:
    bool m_busy;
    bool m_unavailable = false;
};

enum class ProxyState { Pending, Published, Withdrawn };

/// "pending", "published" or "withdrawn": the stored names of the states.
const char* stateName(ProxyState state);
ProxyState stateFromName(const std::string& name);

struct ProxyRecord {
    std::string entry;
    ProxyState state = ProxyState::Pending;
    std::int64_t addedAt = 0; ///< seconds since the epoch, UTC
    /// Distinct reporters counted at the last report.
    int reports = 0;
};

/// One dead-proxy report: who sent it (a keyed hash, never an address) and what counts.
struct DeadReport {
    std::string reporter;
    std::int64_t now = 0;
    /// Reports older than this many seconds no longer count.
    std::int64_t window = 24 * 3600;
    /// Distinct reporters within the window that withdraw the entry.
    int deadAfter = 3;
};

/// The list server's proxies: the interface both databases implement. Entries handed in must already be in their
/// stored form (see checkEntry). Not thread-safe: one caller at a time, except where a method says otherwise.
class ProxyStore {
public:
    virtual ~ProxyStore() = default;

    enum class AddResult { Added, AlreadyKnown, Readded, TooManyPending };
    /// A submission: a new entry is published, or with moderate waits for approve(); a withdrawn entry comes back
    /// the same way with its reports cleared; a pending or published entry stays as it is. With moderate, an entry
    /// that would wait beside maxPending others is refused (TooManyPending); 0 means no cap.
    virtual AddResult add(const std::string& entry, bool moderate, std::int64_t now, int maxPending = 0) = 0;

    enum class ReportResult { Unknown, Counted, Repeated, Withdrawn, AlreadyWithdrawn };
    /// Counts a dead-proxy report against a published entry, once per reporter within the window, and withdraws the
    /// entry once deadAfter distinct reporters have reported it. Pending and absent entries are Unknown.
    virtual ReportResult report(const std::string& entry, const DeadReport& report) = 0;

    enum class ApproveResult { Unknown, Approved, AlreadyPublished };
    /// Publishes a pending or withdrawn entry (reports cleared).
    virtual ApproveResult approve(const std::string& entry) = 0;

    /// Deletes an entry whatever its state; false when there was none.
    virtual bool remove(const std::string& entry) = 0;

    struct ImportCount {
        int added = 0;
        int republished = 0;
        int alreadyPublished = 0;
    };
    /// Publishes every entry in one transaction: new ones are added at the end, pending and withdrawn ones published.
    virtual ImportCount importEntries(const std::vector<std::string>& entries, std::int64_t now) = 0;

    /// Entries in one state, in the order they were added.
    virtual std::vector<ProxyRecord> entries(ProxyState state) = 0;

    /// True when another connection (another process) may have committed a change since the last call.
    virtual bool changedElsewhere() = 0;

    /// Blocks until another connection may have changed the list, or the time-out passed. Called by one watching
    /// thread only (the one that calls changedElsewhere), and may run while another thread uses the store.
    virtual void waitForChange(std::chrono::milliseconds timeout) = 0;

    /// Where connection losses and reconnections are told; none by default.
    void setLog(std::function<void(const std::string&)> log) { m_log = std::move(log); }

protected:
    void log(const std::string& line) const {
        if (m_log)
            m_log(line);
    }

private:
    std::function<void(const std::string&)> m_log;
};

/// One transaction of a store, rolled back on every way out but commit(): begin runs when it is made. The store gives
/// exec(sql), which throws StoreError, and rollback(), which never throws (the connection may be gone).
template <typename Store> class Transaction {
public:
    Transaction(Store& store, const char* begin) : m_store(store) { m_store.exec(begin); }
    ~Transaction() {
        if (!m_done)
            m_store.rollback();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit() {
        m_store.exec("COMMIT");
        m_done = true;
    }

private:
    Store& m_store;
    bool m_done = false;
};

/// True when the --db text names a PostgreSQL database (a postgresql:// or postgres:// URI, or a libpq
/// "keyword=value" connection string) rather than a file.
bool isPostgresLocation(const std::string& location);

/// The store for a --db text: PostgreSQL or a SQLite file. Throws StoreError.
std::unique_ptr<ProxyStore> openProxyStore(const std::string& location);

/// The list in one SQLite file (WAL mode, so other processes may read and write it meanwhile).
class SqliteStore : public ProxyStore {
public:
    /// Opens the database, creating it and its schema when the file is new. Throws StoreError, also when the file
    /// is some other database.
    explicit SqliteStore(const std::string& path);
    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    AddResult add(const std::string& entry, bool moderate, std::int64_t now, int maxPending = 0) override;
    ReportResult report(const std::string& entry, const DeadReport& report) override;
    ApproveResult approve(const std::string& entry) override;
    bool remove(const std::string& entry) override;
    ImportCount importEntries(const std::vector<std::string>& entries, std::int64_t now) override;
    std::vector<ProxyRecord> entries(ProxyState state) override;
    bool changedElsewhere() override;
    /// Sleeps: SQLite has no notifications, changedElsewhere() reads its data version instead.
    void waitForChange(std::chrono::milliseconds timeout) override;

private:
    class Statement;
    friend class Transaction<SqliteStore>;

    void exec(const char* sql);
    void rollback() noexcept;
    void createSchema();
    void upgradeFromFirstVersion();
    [[noreturn]] void fail(const std::string& what, int code) const;
    bool find(const std::string& entry, ProxyState& state, int& reports);
    void publish(const std::string& entry, bool moderate, std::int64_t now);
    void insert(const std::string& entry, ProxyState state, std::int64_t now);
    void clearReports(const std::string& entry);

    sqlite3* m_db = nullptr;
    std::string m_path;
    std::int64_t m_dataVersion = -1;
};

/// The list in a PostgreSQL database, shared by any number of list servers. Every statement is prepared; one
/// connection does the work, a second one LISTENs for the changes other connections make. A lost connection is
/// opened again by the next call (StoreError with unavailable() until then).
class PostgresStore : public ProxyStore {
public:
    /// Connects and creates the schema in an empty database. Throws StoreError, also for a database that holds
    /// another program's tables.
    explicit PostgresStore(const std::string& conninfo);
    ~PostgresStore() override;
    PostgresStore(const PostgresStore&) = delete;
    PostgresStore& operator=(const PostgresStore&) = delete;

    AddResult add(const std::string& entry, bool moderate, std::int64_t now, int maxPending = 0) override;
    ReportResult report(const std::string& entry, const DeadReport& report) override;
    ApproveResult approve(const std::string& entry) override;
    bool remove(const std::string& entry) override;
    ImportCount importEntries(const std::vector<std::string>& entries, std::int64_t now) override;
    std::vector<ProxyRecord> entries(ProxyState state) override;
    /// A notification from another connection arrived; also true once a second while the listening connection is
    /// lost (the fallback check) and after it is back.
    bool changedElsewhere() override;
    void waitForChange(std::chrono::milliseconds timeout) override;

private:
    class Result;
    friend class Transaction<PostgresStore>;

    void rollback() noexcept;
    /// A new connection, or null with the reason in error. The listener's has LISTEN done.
    pg_conn* connect(bool listener, std::string& error) const;
    void ensureConnected();
    void prepareStatements();
    void createSchema();
    void createTables();
    void upgradeFromFirstVersion();
    Result run(const char* name, const std::vector<std::string>& values);
    void exec(const char* sql);
    [[noreturn]] void fail(const std::string& what, const pg_result* result);
    bool insertNew(const std::string& entry, ProxyState state, std::int64_t now);
    bool lockState(const std::string& entry, ProxyState& state);
    bool listenerUsable();

    std::string m_conninfo;
    // The working connection, used by one caller at a time.
    pg_conn* m_conn = nullptr;
    bool m_lost = false;
    // The listening connection and its state, used only by the watching thread.
    pg_conn* m_listener = nullptr;
    std::atomic<int> m_backendPid{0};
    std::chrono::steady_clock::time_point m_lastFallback{};
    std::chrono::steady_clock::time_point m_lastListenAttempt{};
    bool m_listenerReported = false;
    bool m_listenerFresh = false;
};

} // namespace tamberly
