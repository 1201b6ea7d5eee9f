#include "proxy_store.h"

#include "entry.h"

#include <sqlite3.h>

#include <cctype>
#include <ctime>
#include <thread>
#include <utility>
#include <vector>

namespace tamberly {
namespace {

// BEGIN IMMEDIATE takes the write lock up front, so a read-then-write never meets another writer half way.
constexpr const char* kBeginWrite = "BEGIN IMMEDIATE";

// 1: proxies only. 2: the reporters of each entry (reports), and an index that finds the end of the list at once.
// 3: each entry's check (when it is due, its last result, failures in a row).
constexpr int kSchemaVersion = 3;
// Report counts from version 1 carry no reporters: they stand as this many made-up reporters until the window passes.
constexpr int kMostLegacyReports = 1000;
constexpr int kBusyTimeoutMs = 5000;

} // namespace

const char* stateName(ProxyState state) {
    switch (state) {
    case ProxyState::Pending:
        return "pending";
    case ProxyState::Published:
        return "published";
    case ProxyState::Withdrawn:
        return "withdrawn";
    }
    return "pending";
}

ProxyState stateFromName(const std::string& name) {
    if (name == "published")
        return ProxyState::Published;
    if (name == "withdrawn")
        return ProxyState::Withdrawn;
    return ProxyState::Pending;
}

// One prepared statement, finalized when it goes out of scope.
class SqliteStore::Statement {
public:
    Statement(const SqliteStore& store, const char* sql) : m_store(store) {
        const int rc = sqlite3_prepare_v2(store.m_db, sql, -1, &m_stmt, nullptr);
        if (rc != SQLITE_OK)
            store.fail("cannot prepare a statement", rc);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, const std::string& value) {
        check(sqlite3_bind_text(m_stmt, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bind(int index, std::int64_t value) {
        check(sqlite3_bind_int64(m_stmt, index, value));
        return *this;
    }
    /// True while there is a row to read.
    bool step() {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            m_store.fail("database request failed", rc);
        return false;
    }
    std::string text(int column) const {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column))) : std::string();
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }

private:
    void check(int rc) const {
        if (rc != SQLITE_OK)
            m_store.fail("cannot bind a value", rc);
    }
    const SqliteStore& m_store;
    sqlite3_stmt* m_stmt = nullptr;
};

void SqliteStore::rollback() noexcept {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, "ROLLBACK", -1, &statement, nullptr) == SQLITE_OK)
        sqlite3_step(statement);
    sqlite3_finalize(statement);
}

SqliteStore::SqliteStore(const std::string& path) : m_path(path) {
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        sqlite3_close(m_db);
        throw StoreError("cannot open database " + path + ": " + message);
    }
    try {
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        createSchema();
        Statement mode(*this, "PRAGMA journal_mode=WAL");
        mode.step();
        changedElsewhere();
    } catch (...) {
        sqlite3_close(m_db);
        throw;
    }
}

SqliteStore::~SqliteStore() {
    sqlite3_close(m_db);
}

void SqliteStore::fail(const std::string& what, int code) const {
    const int primary = code & 0xff;
    throw StoreError("database " + m_path + ": " + what + ": " + sqlite3_errmsg(m_db),
                     primary == SQLITE_BUSY || primary == SQLITE_LOCKED);
}

void SqliteStore::exec(const char* sql) {
    Statement statement(*this, sql);
    while (statement.step()) {
    }
}

void SqliteStore::createSchema() {
    Transaction<SqliteStore> transaction(*this, kBeginWrite);
    Statement version(*this, "PRAGMA user_version");
    version.step();
    const auto found = version.integer(0);
    if (found == kSchemaVersion)
        return;
    if (found > kSchemaVersion)
        throw StoreError("database " + m_path + " was made by a newer version of tamberly-listserver");
    if (found == 1 || found == 2) {
        if (found == 1)
            upgradeFromFirstVersion();
        addCheckState();
        transaction.commit();
        return;
    }
    Statement tables(*this, "SELECT count(*) FROM sqlite_master");
    tables.step();
    if (tables.integer(0) != 0)
        throw StoreError("database " + m_path + " is not a Tamberly list database");
    exec("CREATE TABLE proxies ("
         " entry TEXT PRIMARY KEY NOT NULL,"
         " state TEXT NOT NULL CHECK (state IN ('pending', 'published', 'withdrawn')),"
         " position INTEGER NOT NULL,"
         " added_at INTEGER NOT NULL,"
         " reports INTEGER NOT NULL DEFAULT 0 CHECK (reports >= 0))");
    exec("CREATE INDEX proxies_by_state ON proxies (state, position)");
    exec("CREATE INDEX proxies_by_position ON proxies (position)");
    exec("CREATE TABLE reports (entry TEXT NOT NULL, reporter TEXT NOT NULL, reported_at INTEGER NOT NULL,"
         " PRIMARY KEY (entry, reporter)) WITHOUT ROWID");
    addCheckState();
    transaction.commit();
}

// Version 2 to 3: the check of each entry. No entry has a check due yet; the checking server gives them one.
void SqliteStore::addCheckState() {
    exec("ALTER TABLE proxies ADD COLUMN check_due INTEGER");
    exec("ALTER TABLE proxies ADD COLUMN checked_at INTEGER NOT NULL DEFAULT 0");
    exec("ALTER TABLE proxies ADD COLUMN check_ms INTEGER NOT NULL DEFAULT -1");
    exec("ALTER TABLE proxies ADD COLUMN check_failures INTEGER NOT NULL DEFAULT 0");
    exec("ALTER TABLE proxies ADD COLUMN check_note TEXT NOT NULL DEFAULT ''");
    exec("ALTER TABLE proxies ADD COLUMN check_asked INTEGER NOT NULL DEFAULT 0");
    exec("CREATE INDEX proxies_by_check_due ON proxies (check_due)");
    exec("CREATE INDEX proxies_by_state_check ON proxies (state, check_due)");
    exec("PRAGMA user_version = 3");
}

// Version 1 to 2, in the opening transaction: the reporters' table, the end of the list found by an index, one row
// for each IPv4-mapped IPv6 entry and its IPv4 form, and the old report counts kept as made-up reporters.
void SqliteStore::upgradeFromFirstVersion() {
    exec("CREATE INDEX proxies_by_position ON proxies (position)");
    exec("CREATE TABLE reports (entry TEXT NOT NULL, reporter TEXT NOT NULL, reported_at INTEGER NOT NULL,"
         " PRIMARY KEY (entry, reporter)) WITHOUT ROWID");
    std::vector<std::pair<std::string, std::string>> mapped;
    {
        Statement select(*this, "SELECT entry FROM proxies WHERE entry LIKE '[::ffff:%'");
        while (select.step()) {
            const auto check = checkEntry(select.text(0));
            if (check.ok && check.entry != select.text(0))
                mapped.emplace_back(select.text(0), check.entry);
        }
    }
    for (const auto& [old, plain] : mapped) {
        ProxyState state{};
        int reports = 0;
        if (find(plain, state, reports)) {
            Statement erase(*this, "DELETE FROM proxies WHERE entry = ?1");
            erase.bind(1, old).step();
        } else {
            Statement rename(*this, "UPDATE proxies SET entry = ?2 WHERE entry = ?1");
            rename.bind(1, old).bind(2, plain).step();
        }
    }
    Statement legacy(*this, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?2)"
                            " INSERT INTO reports (entry, reporter, reported_at)"
                            " SELECT p.entry, 'before-upgrade-' || n.i, ?1 FROM proxies p JOIN n ON n.i <= p.reports"
                            " WHERE p.state = 'published'");
    legacy.bind(1, static_cast<std::int64_t>(std::time(nullptr)))
        .bind(2, static_cast<std::int64_t>(kMostLegacyReports));
    legacy.step();
}

bool SqliteStore::find(const std::string& entry, ProxyState& state, int& reports) {
    Statement select(*this, "SELECT state, reports FROM proxies WHERE entry = ?1");
    select.bind(1, entry);
    if (!select.step())
        return false;
    state = stateFromName(select.text(0));
    reports = static_cast<int>(select.integer(1));
    return true;
}

void SqliteStore::clearReports(const std::string& entry) {
    Statement erase(*this, "DELETE FROM reports WHERE entry = ?1");
    erase.bind(1, entry).step();
}

// A new entry at the end of the list: the end is found through the position index, whatever the list's length.
void SqliteStore::insert(const std::string& entry, ProxyState state, std::int64_t now, bool verify) {
    Statement insert(*this, "INSERT INTO proxies (entry, state, position, added_at, reports, check_due)"
                            " VALUES (?1, ?2, (SELECT coalesce(max(position), 0) + 1 FROM proxies), ?3, 0,"
                            " CASE WHEN ?4 THEN ?3 END)");
    insert.bind(1, entry).bind(2, std::string(stateName(state))).bind(3, now);
    insert.bind(4, static_cast<std::int64_t>(verify)).step();
}

// Puts a withdrawn entry back as if it were new: at the end of the list, added now, no reports.
void SqliteStore::publish(const std::string& entry, bool moderate, std::int64_t now, bool verify) {
    Statement update(*this, "UPDATE proxies SET state = ?2, added_at = ?3, reports = 0,"
                            " position = (SELECT max(position) + 1 FROM proxies), check_due = CASE WHEN ?4 THEN ?3 END,"
                            " checked_at = 0, check_ms = -1, check_failures = 0, check_note = '', check_asked = 0"
                            " WHERE entry = ?1");
    const bool waits = moderate || verify;
    update.bind(1, entry).bind(2, std::string(stateName(waits ? ProxyState::Pending : ProxyState::Published)));
    update.bind(3, now).bind(4, static_cast<std::int64_t>(verify)).step();
    clearReports(entry);
}

ProxyStore::AddResult SqliteStore::add(const std::string& entry, bool moderate, std::int64_t now, int maxPending,
                                       bool verify) {
    Transaction<SqliteStore> transaction(*this, kBeginWrite);
    ProxyState state{};
    int reports = 0;
    const bool known = find(entry, state, reports);
    if (known && state != ProxyState::Withdrawn)
        return AddResult::AlreadyKnown;
    if ((moderate || verify) && maxPending > 0) {
        // Counted through the state index: at most maxPending rows, whatever the list's length.
        Statement pending(*this, "SELECT count(*) FROM (SELECT 1 FROM proxies WHERE state = 'pending' LIMIT ?1)");
        pending.bind(1, static_cast<std::int64_t>(maxPending)).step();
        if (pending.integer(0) >= maxPending)
            return AddResult::TooManyPending;
    }
    AddResult result = AddResult::Added;
    if (!known) {
        insert(entry, moderate || verify ? ProxyState::Pending : ProxyState::Published, now, verify);
    } else {
        publish(entry, moderate, now, verify);
        result = AddResult::Readded;
    }
    transaction.commit();
    return result;
}

ProxyStore::ReportResult SqliteStore::report(const std::string& entry, const DeadReport& report) {
    Transaction<SqliteStore> transaction(*this, kBeginWrite);
    ProxyState state{};
    int reports = 0;
    if (!find(entry, state, reports) || state == ProxyState::Pending)
        return ReportResult::Unknown;
    if (state == ProxyState::Withdrawn)
        return ReportResult::AlreadyWithdrawn;
    // Only this entry's reports: a handful of rows, whatever the list's length.
    Statement expire(*this, "DELETE FROM reports WHERE entry = ?1 AND reported_at <= ?2");
    expire.bind(1, entry).bind(2, report.now - report.window).step();
    Statement insert(*this, "INSERT OR IGNORE INTO reports (entry, reporter, reported_at) VALUES (?1, ?2, ?3)");
    insert.bind(1, entry).bind(2, report.reporter).bind(3, report.now).step();
    if (sqlite3_changes(m_db) == 0) {
        transaction.commit();
        return ReportResult::Repeated;
    }
    Statement count(*this, "SELECT count(*) FROM reports WHERE entry = ?1");
    count.bind(1, entry).step();
    const auto reporters = count.integer(0);
    const bool withdraw = reporters >= report.deadAfter;
    Statement update(*this, "UPDATE proxies SET reports = ?3, state = ?2 WHERE entry = ?1");
    update.bind(1, entry).bind(2, std::string(stateName(withdraw ? ProxyState::Withdrawn : ProxyState::Published)));
    update.bind(3, reporters).step();
    if (withdraw)
        clearReports(entry);
    transaction.commit();
    return withdraw ? ReportResult::Withdrawn : ReportResult::Counted;
}

ProxyStore::ApproveResult SqliteStore::approve(const std::string& entry) {
    Transaction<SqliteStore> transaction(*this, kBeginWrite);
    ProxyState state{};
    int reports = 0;
    if (!find(entry, state, reports))
        return ApproveResult::Unknown;
    if (state == ProxyState::Published)
        return ApproveResult::AlreadyPublished;
    Statement update(*this, "UPDATE proxies SET state = 'published', reports = 0 WHERE entry = ?1");
    update.bind(1, entry).step();
    clearReports(entry);
    transaction.commit();
    return ApproveResult::Approved;
}

bool SqliteStore::remove(const std::string& entry) {
    Transaction<SqliteStore> transaction(*this, kBeginWrite);
    Statement erase(*this, "DELETE FROM proxies WHERE entry = ?1");
    erase.bind(1, entry).step();
    const bool removed = sqlite3_changes(m_db) > 0;
    clearReports(entry);
    transaction.commit();
    return removed;
}

ProxyStore::ImportCount SqliteStore::importEntries(const std::vector<std::string>& entries, std::int64_t now) {
    Transaction<SqliteStore> transaction(*this, kBeginWrite);
    ImportCount count;
    for (const auto& entry : entries) {
        ProxyState state{};
        int reports = 0;
        if (!find(entry, state, reports)) {
            insert(entry, ProxyState::Published, now);
            ++count.added;
        } else if (state == ProxyState::Published) {
            ++count.alreadyPublished;
        } else if (state == ProxyState::Withdrawn) {
            publish(entry, false, now);
            ++count.republished;
        } else {
            Statement update(*this, "UPDATE proxies SET state = 'published' WHERE entry = ?1");
            update.bind(1, entry).step();
            ++count.republished;
        }
    }
    transaction.commit();
    return count;
}

std::vector<ProxyRecord> SqliteStore::entries(ProxyState state) {
    Statement select(*this, "SELECT entry, added_at, reports, checked_at, check_ms, check_note FROM proxies"
                            " WHERE state = ?1 ORDER BY position");
    select.bind(1, std::string(stateName(state)));
    std::vector<ProxyRecord> records;
    while (select.step())
        records.push_back({select.text(0), state, select.integer(1), static_cast<int>(select.integer(2)),
                           select.integer(3), static_cast<long>(select.integer(4)), select.text(5)});
    return records;
}

std::vector<std::string> SqliteStore::takeDueChecks(std::int64_t now, std::int64_t lease, int limit) {
    Transaction<SqliteStore> transaction(*this, kBeginWrite);
    Statement take(*this,
                   "UPDATE proxies SET check_due = ?1 + ?2 WHERE entry IN (SELECT entry FROM proxies"
                   " WHERE check_due <= ?1 AND state <> 'withdrawn' ORDER BY check_due LIMIT ?3) RETURNING entry");
    take.bind(1, now).bind(2, lease).bind(3, static_cast<std::int64_t>(limit));
    std::vector<std::string> taken;
    while (take.step())
        taken.push_back(take.text(0));
    transaction.commit();
    return taken;
}

ProxyStore::CheckOutcome SqliteStore::recordCheck(const std::string& entry, const CheckReport& check) {
    Transaction<SqliteStore> transaction(*this, kBeginWrite);
    Statement select(*this, "SELECT state, check_failures, check_asked FROM proxies WHERE entry = ?1");
    select.bind(1, entry);
    if (!select.step())
        return CheckOutcome::Unknown;
    const ProxyState state = stateFromName(select.text(0));
    if (state == ProxyState::Withdrawn)
        return CheckOutcome::Unknown;
    const auto failures = check.works ? 0 : select.integer(1) + 1;
    const bool asked = select.integer(2) != 0;
    ProxyState next = state;
    CheckOutcome outcome = check.works ? CheckOutcome::Kept : CheckOutcome::Failed;
    if (check.works && state == ProxyState::Pending && check.publish) {
        next = ProxyState::Published;
        outcome = CheckOutcome::Published;
    } else if (!check.works && (state == ProxyState::Pending || asked || failures >= check.withdrawAfter)) {
        next = ProxyState::Withdrawn;
        outcome = CheckOutcome::Withdrawn;
    }
    Statement update(*this, "UPDATE proxies SET state = ?2, checked_at = ?3, check_ms = ?4, check_failures = ?5,"
                            " check_note = ?6, check_asked = 0, check_due = CASE WHEN ?2 = 'withdrawn' THEN NULL"
                            " ELSE ?7 END, reports = CASE WHEN ?2 = 'withdrawn' THEN 0 ELSE reports END"
                            " WHERE entry = ?1");
    update.bind(1, entry).bind(2, std::string(stateName(next))).bind(3, check.now);
    update.bind(4, static_cast<std::int64_t>(check.works ? check.ms : -1)).bind(5, failures);
    update.bind(6, check.works ? std::string() : check.note).bind(7, check.nextDue).step();
    if (next == ProxyState::Withdrawn)
        clearReports(entry);
    transaction.commit();
    return outcome;
}

ProxyStore::ReportResult SqliteStore::askForCheck(const std::string& entry, std::int64_t now) {
    Transaction<SqliteStore> transaction(*this, kBeginWrite);
    ProxyState state{};
    int reports = 0;
    if (!find(entry, state, reports) || state == ProxyState::Pending)
        return ReportResult::Unknown;
    if (state == ProxyState::Withdrawn)
        return ReportResult::AlreadyWithdrawn;
    Statement ask(*this, "UPDATE proxies SET check_due = ?2, check_asked = 1 WHERE entry = ?1 AND check_asked = 0");
    ask.bind(1, entry).bind(2, now).step();
    const bool asked = sqlite3_changes(m_db) > 0;
    transaction.commit();
    return asked ? ReportResult::Counted : ReportResult::Repeated;
}

int SqliteStore::scheduleChecks(std::int64_t now, std::int64_t period, int limit) {
    Transaction<SqliteStore> transaction(*this, kBeginWrite);
    std::vector<std::string> unscheduled;
    {
        Statement select(*this, "SELECT entry FROM proxies WHERE state = 'published' AND check_due IS NULL LIMIT ?1");
        select.bind(1, static_cast<std::int64_t>(limit));
        while (select.step())
            unscheduled.push_back(select.text(0));
    }
    for (const auto& entry : unscheduled) {
        Statement update(*this, "UPDATE proxies SET check_due = ?2 WHERE entry = ?1");
        update.bind(1, entry).bind(2, now + spreadOffset(entry, period)).step();
    }
    transaction.commit();
    return static_cast<int>(unscheduled.size());
}

bool SqliteStore::changedElsewhere() {
    Statement version(*this, "PRAGMA data_version");
    version.step();
    const auto now = version.integer(0);
    const bool changed = m_dataVersion >= 0 && now != m_dataVersion;
    m_dataVersion = now;
    return changed;
}

void SqliteStore::waitForChange(std::chrono::milliseconds timeout) {
    std::this_thread::sleep_for(timeout);
}

std::int64_t spreadOffset(const std::string& entry, std::int64_t period) {
    // FNV-1a: stable across runs and servers, so every instance places an entry at the same point of the period.
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : entry) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return period > 0 ? static_cast<std::int64_t>(hash % static_cast<std::uint64_t>(period)) : 0;
}

bool isPostgresLocation(const std::string& location) {
    if (location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0)
        return true;
    // libpq's "keyword=value ..." form: a word, then "=". A file whose name looks like that is given as ./name.
    std::size_t i = 0;
    while (i < location.size() && location[i] == ' ')
        ++i;
    const std::size_t word = i;
    while (i < location.size() && (std::isalnum(static_cast<unsigned char>(location[i])) || location[i] == '_'))
        ++i;
    if (i == word)
        return false;
    while (i < location.size() && location[i] == ' ')
        ++i;
    return i < location.size() && location[i] == '=';
}

std::unique_ptr<ProxyStore> openProxyStore(const std::string& location) {
    if (isPostgresLocation(location))
        return std::make_unique<PostgresStore>(location);
    return std::make_unique<SqliteStore>(location);
}

} // namespace tamberly
