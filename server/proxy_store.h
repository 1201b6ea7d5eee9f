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
    /// The last check through the entry, when the server checks them: when (0: never), the time to the whole answer
    /// (-1: it failed) and, for a failure, why.
    std::int64_t checkedAt = 0;
    long checkMs = -1;
    std::string checkNote;
};

/// What one check through an entry found, and what follows from it.
struct CheckReport {
    bool works = false;
    long ms = -1;
    /// Why it failed, for the page and the withdrawn command.
    std::string note;
    std::int64_t now = 0;
    /// When the next check is due (seconds since the epoch).
    std::int64_t nextDue = 0;
    /// A new entry that works is published; with moderation it stays waiting for approve().
    bool publish = true;
    /// Failures in a row that withdraw a published entry (one does when a report asked for the check).
    int withdrawAfter = 3;
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
    /// the same way with its reports cleared; a pending or published entry stays as it is. With verify, a new entry
    /// waits for its first check instead (see recordCheck). With moderate or verify, an entry that would wait beside
    /// maxPending others is refused (TooManyPending); 0 means no cap.
    virtual AddResult add(const std::string& entry, bool moderate, std::int64_t now, int maxPending = 0,
                          bool verify = false) = 0;

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

    /// Takes at most limit entries whose check is due (waiting or published), oldest due first, and moves their due
    /// time lease seconds on, so that no other server takes them meanwhile; a server that dies holding them leaves
    /// them due again once the lease has passed.
    virtual std::vector<std::string> takeDueChecks(std::int64_t now, std::int64_t lease, int limit) = 0;

    enum class CheckOutcome { Unknown, Published, Kept, Failed, Withdrawn };
    /// Stores a check's result: a waiting entry that works is published (unless !publish), one that fails is
    /// withdrawn; a published entry is withdrawn after withdrawAfter failures in a row, or after one when a report
    /// asked for the check. Unknown when the entry is gone or withdrawn meanwhile.
    virtual CheckOutcome recordCheck(const std::string& entry, const CheckReport& check) = 0;

    /// A dead report when the server checks entries: the published entry is checked at once, and withdrawn if that
    /// check fails. Counted when asked, Repeated when a check is already asked, Unknown or AlreadyWithdrawn else.
    virtual ReportResult askForCheck(const std::string& entry, std::int64_t now) = 0;

    /// Gives published entries that have no check due (imported, approved, from before checks) one within the
    /// period, spread over it; at most limit of them. Returns how many.
    virtual int scheduleChecks(std::int64_t now, std::int64_t period, int limit) = 0;

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

/// Where in a period of seconds an entry's check falls: the same place for an entry every time, spread evenly over
/// the period across entries.
std::int64_t spreadOffset(const std::string& entry, std::int64_t period);

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

    AddResult add(const std::string& entry, bool moderate, std::int64_t now, int maxPending = 0,
                  bool verify = false) override;
    ReportResult report(const std::string& entry, const DeadReport& report) override;
    ApproveResult approve(const std::string& entry) override;
    bool remove(const std::string& entry) override;
    ImportCount importEntries(const std::vector<std::string>& entries, std::int64_t now) override;
    std::vector<ProxyRecord> entries(ProxyState state) override;
    std::vector<std::string> takeDueChecks(std::int64_t now, std::int64_t lease, int limit) override;
    CheckOutcome recordCheck(const std::string& entry, const CheckReport& check) override;
    ReportResult askForCheck(const std::string& entry, std::int64_t now) override;
    int scheduleChecks(std::int64_t now, std::int64_t period, int limit) override;
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
    void addCheckState();
    [[noreturn]] void fail(const std::string& what, int code) const;
    bool find(const std::string& entry, ProxyState& state, int& reports);
    void publish(const std::string& entry, bool moderate, std::int64_t now, bool verify = false);
    void insert(const std::string& entry, ProxyState state, std::int64_t now, bool verify = false);
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

    AddResult add(const std::string& entry, bool moderate, std::int64_t now, int maxPending = 0,
                  bool verify = false) override;
    ReportResult report(const std::string& entry, const DeadReport& report) override;
    ApproveResult approve(const std::string& entry) override;
    bool remove(const std::string& entry) override;
    ImportCount importEntries(const std::vector<std::string>& entries, std::int64_t now) override;
    std::vector<ProxyRecord> entries(ProxyState state) override;
    std::vector<std::string> takeDueChecks(std::int64_t now, std::int64_t lease, int limit) override;
    CheckOutcome recordCheck(const std::string& entry, const CheckReport& check) override;
    ReportResult askForCheck(const std::string& entry, std::int64_t now) override;
    int scheduleChecks(std::int64_t now, std::int64_t period, int limit) override;
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
    void addCheckState();
    Result run(const char* name, const std::vector<std::string>& values);
    void exec(const char* sql);
    [[noreturn]] void fail(const std::string& what, const pg_result* result);
    bool insertNew(const std::string& entry, ProxyState state, std::int64_t now, bool verify = false);
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
