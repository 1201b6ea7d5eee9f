#include "proxy_store.h"

#include "entry.h"

#include <libpq-fe.h>
#include <poll.h>

#include <cstdlib>
#include <ctime>
#include <thread>

namespace tamberly {
namespace {

// 1: proxies only. 2: the reporters of each entry (reports). 3: each entry's check.
constexpr int kSchemaVersion = 3;
// Report counts from version 1 carry no reporters: they stand as this many made-up reporters until the window passes.
constexpr int kMostLegacyReports = 1000;
// Taken while one server checks or creates the schema, so that servers started together do it one at a time.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7314270110)";
// Taken by a submission that counts the waiting entries, so that servers adding at once cannot each pass the cap.
constexpr const char* kPendingLock = "SELECT pg_advisory_xact_lock(7314270111)";
constexpr const char* kChannel = "tamberly_list";
constexpr auto kFallbackEvery = std::chrono::seconds(1);

// The statements of the daily work, prepared on every new connection.
struct Prepared {
    const char* name;
    const char* sql;
};
const Prepared kStatements[] = {
    {"insert", "INSERT INTO proxies (entry, state, position, added_at, reports, check_due)"
               " VALUES ($1, $2, nextval('proxies_position'), $3, 0, CASE WHEN $4::boolean THEN $3::bigint END)"
               " ON CONFLICT (entry) DO NOTHING"},
    {"lock", "SELECT state FROM proxies WHERE entry = $1 FOR UPDATE"},
    {"state", "SELECT state FROM proxies WHERE entry = $1"},
    {"publish", "UPDATE proxies SET state = $2, added_at = $3, reports = 0, position = nextval('proxies_position'),"
                " check_due = CASE WHEN $4::boolean THEN $3::bigint END, checked_at = 0, check_ms = -1,"
                " check_failures = 0, check_note = '', check_asked = false WHERE entry = $1"},
    {"release", "UPDATE proxies SET state = 'published' WHERE entry = $1"},
    {"pending", "SELECT count(*) FROM (SELECT 1 FROM proxies WHERE state = 'pending' LIMIT $1) p"},
    // A report's steps run under the entry's row lock, so reports sent at once count one after the other and only
    // one withdraws; each touches only this entry's few reporters.
    {"expire", "DELETE FROM reports WHERE entry = $1 AND reported_at <= $2"},
    {"reported", "INSERT INTO reports (entry, reporter, reported_at) VALUES ($1, $2, $3) ON CONFLICT DO NOTHING"},
    {"reporters", "SELECT count(*) FROM reports WHERE entry = $1"},
    {"mark", "UPDATE proxies SET reports = $2, state = $3 WHERE entry = $1"},
    {"clear", "DELETE FROM reports WHERE entry = $1"},
    {"approve", "UPDATE proxies SET state = 'published', reports = 0 WHERE entry = $1 AND state <> 'published'"},
    {"remove", "DELETE FROM proxies WHERE entry = $1"},
    {"entries", "SELECT entry, added_at, reports, checked_at, check_ms, check_note FROM proxies WHERE state = $1"
                " ORDER BY position"},
    // A due check is taken by one server: rows another server is taking are skipped, not waited for.
    {"take", "UPDATE proxies SET check_due = $1::bigint + $2::bigint WHERE entry IN (SELECT entry FROM proxies"
             " WHERE check_due <= $1::bigint AND state <> 'withdrawn' ORDER BY check_due LIMIT $3"
             " FOR UPDATE SKIP LOCKED) RETURNING entry"},
    {"checked", "SELECT state, check_failures, check_asked FROM proxies WHERE entry = $1 FOR UPDATE"},
    {"record", "UPDATE proxies SET state = $2, checked_at = $3, check_ms = $4, check_failures = $5, check_note = $6,"
               " check_asked = false, check_due = CASE WHEN $2 = 'withdrawn' THEN NULL ELSE $7::bigint END,"
               " reports = CASE WHEN $2 = 'withdrawn' THEN 0 ELSE reports END WHERE entry = $1"},
    {"ask", "UPDATE proxies SET check_due = $2, check_asked = true WHERE entry = $1 AND NOT check_asked"},
    {"unscheduled", "SELECT entry FROM proxies WHERE state = 'published' AND check_due IS NULL LIMIT $1"
                    " FOR UPDATE SKIP LOCKED"},
    {"schedule", "UPDATE proxies SET check_due = $2 WHERE entry = $1"},
};

void ignoreNotice(void*, const char*) {}

std::string message(const pg_conn* conn) {
    std::string text = conn ? PQerrorMessage(conn) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    for (auto& c : text)
        if (c == '\n' || c == '\t')
            c = ' ';
    return text;
}

} // namespace

// A query's result, cleared when it goes out of scope.
class PostgresStore::Result {
public:
    explicit Result(pg_result* result) : m_result(result) {}
    ~Result() { PQclear(m_result); }
    Result(Result&& other) noexcept : m_result(other.m_result) { other.m_result = nullptr; }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    const pg_result* get() const { return m_result; }
    int rows() const { return PQntuples(m_result); }
    std::string text(int row, int column) const {
        return std::string(PQgetvalue(m_result, row, column),
                           static_cast<std::size_t>(PQgetlength(m_result, row, column)));
    }
    std::int64_t integer(int row, int column) const {
        return std::strtoll(PQgetvalue(m_result, row, column), nullptr, 10);
    }
    /// Rows changed by an INSERT, UPDATE or DELETE.
    int changed() const { return std::atoi(PQcmdTuples(m_result)); }

private:
    pg_result* m_result;
};

void PostgresStore::rollback() noexcept {
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK)
        PQclear(PQexec(m_conn, "ROLLBACK"));
}

PostgresStore::PostgresStore(const std::string& conninfo) : m_conninfo(conninfo) {
    std::string error;
    m_conn = connect(false, error);
    if (!m_conn)
        throw StoreError::unavailable("cannot connect to the PostgreSQL database: " + error);
    try {
        createSchema();
        prepareStatements();
    } catch (...) {
        PQfinish(m_conn);
        throw;
    }
    m_backendPid = PQbackendPID(m_conn);
}

PostgresStore::~PostgresStore() {
    PQfinish(m_conn);
    PQfinish(m_listener);
}

pg_conn* PostgresStore::connect(bool listener, std::string& error) const {
    // A connect_timeout or application name in the connection string overrides these (it is expanded last).
    const char* keywords[] = {"connect_timeout", "fallback_application_name", "dbname", nullptr};
    const char* values[] = {"5", "tamberly-listserver", m_conninfo.c_str(), nullptr};
    pg_conn* conn = PQconnectdbParams(keywords, values, 1);
    if (!conn || PQstatus(conn) != CONNECTION_OK) {
        error = message(conn);
        PQfinish(conn);
        return nullptr;
    }
    PQsetNoticeProcessor(conn, ignoreNotice, nullptr);
    if (listener) {
        pg_result* result = PQexec(conn, (std::string("LISTEN ") + kChannel).c_str());
        const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
        PQclear(result);
        if (!ok) {
            error = message(conn);
            PQfinish(conn);
            return nullptr;
        }
    }
    return conn;
}

void PostgresStore::prepareStatements() {
    for (const auto& statement : kStatements) {
        Result result(PQprepare(m_conn, statement.name, statement.sql, 0, nullptr));
        if (PQresultStatus(result.get()) != PGRES_COMMAND_OK)
            fail("cannot prepare a statement", result.get());
    }
}

void PostgresStore::ensureConnected() {
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK)
        return;
    if (!m_lost) {
        m_lost = true;
        log("lost the connection to the PostgreSQL database");
    }
    PQfinish(m_conn);
    std::string error;
    m_conn = connect(false, error);
    if (!m_conn)
        throw StoreError::unavailable("cannot reach the PostgreSQL database: " + error);
    try {
        prepareStatements();
    } catch (...) {
        PQfinish(m_conn);
        m_conn = nullptr;
        throw;
    }
    m_backendPid = PQbackendPID(m_conn);
    m_lost = false;
    log("reconnected to the PostgreSQL database");
}

void PostgresStore::fail(const std::string& what, const pg_result* result) {
    const std::string text = what + ": " + message(m_conn);
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
        if (!m_lost) {
            m_lost = true;
            log("lost the connection to the PostgreSQL database");
        }
        throw StoreError::unavailable("PostgreSQL database: " + text);
    }
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const std::string code = state ? state : "";
    // Serialization failures, deadlocks, locks not available, too many connections, shutting down: try again.
    const bool busy =
        code == "40001" || code == "40P01" || code == "55P03" || code == "53300" || code.rfind("57P", 0) == 0;
    throw StoreError("PostgreSQL database: " + text, busy);
}

void PostgresStore::exec(const char* sql) {
    Result result(PQexec(m_conn, sql));
    const auto status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail("request failed", result.get());
}

PostgresStore::Result PostgresStore::run(const char* name, const std::vector<std::string>& values) {
    std::vector<const char*> pointers;
    std::vector<int> lengths;
    for (const auto& value : values) {
        pointers.push_back(value.c_str());
        lengths.push_back(static_cast<int>(value.size()));
    }
    Result result(
        PQexecPrepared(m_conn, name, static_cast<int>(values.size()), pointers.data(), lengths.data(), nullptr, 0));
    const auto status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail("request failed", result.get());
    return result;
}

void PostgresStore::createSchema() {
    Transaction<PostgresStore> transaction(*this, "BEGIN");
    exec(kSchemaLock);
    Result schema(PQexec(m_conn, "SELECT current_schema()"));
    if (PQresultStatus(schema.get()) != PGRES_TUPLES_OK)
        fail("cannot read the schema", schema.get());
    if (schema.rows() != 1 || PQgetisnull(schema.get(), 0, 0))
        throw StoreError("PostgreSQL database: no schema to keep the list in (see search_path)");
    Result tables(PQexec(m_conn, "SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace"
                                 " WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p', 'v', 'm', 'f')"));
    if (PQresultStatus(tables.get()) != PGRES_TUPLES_OK)
        fail("cannot read the schema", tables.get());
    bool ours = false;
    for (int row = 0; row < tables.rows(); ++row)
        ours = ours || tables.text(row, 0) == "tamberly_listserver";
    if (ours) {
        Result version(PQexec(m_conn, "SELECT max(schema_version) FROM tamberly_listserver"));
        if (PQresultStatus(version.get()) != PGRES_TUPLES_OK)
            fail("cannot read the schema version", version.get());
        const auto found = version.integer(0, 0);
        if (found > kSchemaVersion)
            throw StoreError("PostgreSQL database was made by a newer version of tamberly-listserver");
        if (found == 1)
            upgradeFromFirstVersion();
        if (found == 1 || found == 2)
            addCheckState();
        else if (found != kSchemaVersion)
            throw StoreError("PostgreSQL database is not a Tamberly list database");
        transaction.commit();
        return;
    }
    if (tables.rows() != 0)
        throw StoreError("PostgreSQL database is not a Tamberly list database (its schema holds other tables)");
    exec("CREATE TABLE proxies ("
         " entry TEXT PRIMARY KEY NOT NULL,"
         " state TEXT NOT NULL CHECK (state IN ('pending', 'published', 'withdrawn')),"
         " position BIGINT NOT NULL,"
         " added_at BIGINT NOT NULL,"
         " reports INTEGER NOT NULL DEFAULT 0 CHECK (reports >= 0))");
    exec("CREATE INDEX proxies_by_state ON proxies (state, position)");
    exec("CREATE SEQUENCE proxies_position OWNED BY proxies.position");
    // Every change that can alter the list tells the listening servers, whoever makes it (a server, a subcommand,
    // an edit by hand). Notifications are sent at commit, once per transaction.
    exec("CREATE FUNCTION tamberly_list_changed() RETURNS trigger LANGUAGE plpgsql AS"
         " $$BEGIN PERFORM pg_notify('tamberly_list', ''); RETURN NULL; END$$");
    exec("CREATE TRIGGER proxies_changed AFTER INSERT OR DELETE OR TRUNCATE ON proxies"
         " FOR EACH STATEMENT EXECUTE FUNCTION tamberly_list_changed()");
    exec("CREATE TRIGGER proxies_updated AFTER UPDATE ON proxies FOR EACH ROW WHEN"
         " (OLD.state IS DISTINCT FROM NEW.state OR OLD.position IS DISTINCT FROM NEW.position"
         " OR OLD.entry IS DISTINCT FROM NEW.entry) EXECUTE FUNCTION tamberly_list_changed()");
    createTables();
    exec("CREATE TABLE tamberly_listserver (schema_version INTEGER NOT NULL)");
    exec("INSERT INTO tamberly_listserver VALUES (2)");
    addCheckState();
    transaction.commit();
}

// Version 2 to 3: the check of each entry. No entry has a check due yet; the checking servers give them one.
void PostgresStore::addCheckState() {
    exec("ALTER TABLE proxies ADD COLUMN check_due BIGINT, ADD COLUMN checked_at BIGINT NOT NULL DEFAULT 0,"
         " ADD COLUMN check_ms INTEGER NOT NULL DEFAULT -1, ADD COLUMN check_failures INTEGER NOT NULL DEFAULT 0,"
         " ADD COLUMN check_note TEXT NOT NULL DEFAULT '', ADD COLUMN check_asked BOOLEAN NOT NULL DEFAULT false");
    exec("CREATE INDEX proxies_by_check_due ON proxies (check_due)");
    exec("CREATE INDEX proxies_by_state_check ON proxies (state, check_due)");
    exec("UPDATE tamberly_listserver SET schema_version = 3");
}

// What version 2 added to the first.
void PostgresStore::createTables() {
    exec("CREATE TABLE reports (entry TEXT NOT NULL, reporter TEXT NOT NULL, reported_at BIGINT NOT NULL,"
         " PRIMARY KEY (entry, reporter))");
}

// Version 1 to 2, in the opening transaction under the schema lock: the reporters' table, one row for each
// IPv4-mapped IPv6 entry and its IPv4 form, and the old report counts kept as made-up reporters.
void PostgresStore::upgradeFromFirstVersion() {
    createTables();
    Result mapped(PQexec(m_conn, "SELECT entry FROM proxies WHERE entry LIKE '[::ffff:%'"));
    if (PQresultStatus(mapped.get()) != PGRES_TUPLES_OK)
        fail("cannot upgrade the schema", mapped.get());
    for (int row = 0; row < mapped.rows(); ++row) {
        const std::string old = mapped.text(row, 0);
        const auto check = checkEntry(old);
        if (!check.ok || check.entry == old)
            continue;
        const char* values[] = {old.c_str(), check.entry.c_str()};
        Result merged(PQexecParams(m_conn,
                                   "WITH gone AS (DELETE FROM proxies WHERE entry = $1"
                                   " AND EXISTS (SELECT 1 FROM proxies WHERE entry = $2) RETURNING 1)"
                                   " UPDATE proxies SET entry = $2 WHERE entry = $1 AND NOT EXISTS (SELECT 1 FROM gone)"
                                   " AND NOT EXISTS (SELECT 1 FROM proxies WHERE entry = $2)",
                                   2, nullptr, values, nullptr, nullptr, 0));
        if (PQresultStatus(merged.get()) != PGRES_COMMAND_OK)
            fail("cannot upgrade the schema", merged.get());
    }
    const std::string now = std::to_string(static_cast<long long>(std::time(nullptr)));
    const std::string most = std::to_string(kMostLegacyReports);
    const char* values[] = {now.c_str(), most.c_str()};
    Result legacy(PQexecParams(m_conn,
                               "INSERT INTO reports (entry, reporter, reported_at)"
                               " SELECT p.entry, 'before-upgrade-' || n, $1::bigint FROM proxies p,"
                               " generate_series(1, least(p.reports, $2::integer)) n WHERE p.state = 'published'",
                               2, nullptr, values, nullptr, nullptr, 0));
    if (PQresultStatus(legacy.get()) != PGRES_COMMAND_OK)
        fail("cannot upgrade the schema", legacy.get());
    exec("UPDATE tamberly_listserver SET schema_version = 2");
}

bool PostgresStore::insertNew(const std::string& entry, ProxyState state, std::int64_t now, bool verify) {
    return run("insert", {entry, stateName(state), std::to_string(now), verify ? "true" : "false"}).changed() > 0;
}

bool PostgresStore::lockState(const std::string& entry, ProxyState& state) {
    const auto result = run("lock", {entry});
    if (result.rows() == 0)
        return false;
    state = stateFromName(result.text(0, 0));
    return true;
}

ProxyStore::AddResult PostgresStore::add(const std::string& entry, bool moderate, std::int64_t now, int maxPending,
                                         bool verify) {
    ensureConnected();
    const ProxyState fresh = moderate || verify ? ProxyState::Pending : ProxyState::Published;
    Transaction<PostgresStore> transaction(*this, "BEGIN");
    if ((moderate || verify) && maxPending > 0) {
        // Only an entry that would start to wait counts against the cap: a new one, or a withdrawn one sent again.
        const auto known = run("state", {entry});
        const bool wouldWait = known.rows() == 0 || known.text(0, 0) == stateName(ProxyState::Withdrawn);
        if (wouldWait) {
            // Held to the commit: the count and the insert of one server happen before another server counts.
            exec(kPendingLock);
            if (run("pending", {std::to_string(maxPending)}).integer(0, 0) >= maxPending)
                return AddResult::TooManyPending;
        }
    }
    AddResult result = AddResult::AlreadyKnown;
    ProxyState state{};
    // The insert waits for one running elsewhere with the same entry; a row removed meanwhile is inserted again.
    while (true) {
        if (insertNew(entry, fresh, now, verify)) {
            result = AddResult::Added;
            break;
        }
        if (lockState(entry, state)) {
            if (state == ProxyState::Withdrawn) {
                run("publish", {entry, stateName(fresh), std::to_string(now), verify ? "true" : "false"});
                run("clear", {entry});
                result = AddResult::Readded;
            }
            break;
        }
    }
    transaction.commit();
    return result;
}

ProxyStore::ReportResult PostgresStore::report(const std::string& entry, const DeadReport& report) {
    ensureConnected();
    Transaction<PostgresStore> transaction(*this, "BEGIN");
    ProxyState state{};
    if (!lockState(entry, state) || state == ProxyState::Pending)
        return ReportResult::Unknown;
    if (state == ProxyState::Withdrawn)
        return ReportResult::AlreadyWithdrawn;
    run("expire", {entry, std::to_string(report.now - report.window)});
    if (run("reported", {entry, report.reporter, std::to_string(report.now)}).changed() == 0) {
        transaction.commit();
        return ReportResult::Repeated;
    }
    const auto reporters = run("reporters", {entry}).integer(0, 0);
    const bool withdraw = reporters >= report.deadAfter;
    run("mark",
        {entry, std::to_string(reporters), stateName(withdraw ? ProxyState::Withdrawn : ProxyState::Published)});
    if (withdraw)
        run("clear", {entry});
    transaction.commit();
    return withdraw ? ReportResult::Withdrawn : ReportResult::Counted;
}

ProxyStore::ApproveResult PostgresStore::approve(const std::string& entry) {
    ensureConnected();
    Transaction<PostgresStore> transaction(*this, "BEGIN");
    ApproveResult result = ApproveResult::Unknown;
    if (run("approve", {entry}).changed() > 0) {
        run("clear", {entry});
        result = ApproveResult::Approved;
    } else if (run("state", {entry}).rows() > 0) {
        result = ApproveResult::AlreadyPublished;
    }
    transaction.commit();
    return result;
}

bool PostgresStore::remove(const std::string& entry) {
    ensureConnected();
    Transaction<PostgresStore> transaction(*this, "BEGIN");
    const bool removed = run("remove", {entry}).changed() > 0;
    run("clear", {entry});
    transaction.commit();
    return removed;
}

ProxyStore::ImportCount PostgresStore::importEntries(const std::vector<std::string>& entries, std::int64_t now) {
    ensureConnected();
    Transaction<PostgresStore> transaction(*this, "BEGIN");
    ImportCount count;
    const std::string when = std::to_string(now);
    for (const auto& entry : entries) {
        ProxyState state{};
        while (true) {
            if (insertNew(entry, ProxyState::Published, now)) {
                ++count.added;
                break;
            }
            if (!lockState(entry, state))
                continue;
            if (state == ProxyState::Published) {
                ++count.alreadyPublished;
            } else if (state == ProxyState::Withdrawn) {
                run("publish", {entry, stateName(ProxyState::Published), when, "false"});
                run("clear", {entry});
                ++count.republished;
            } else {
                run("release", {entry});
                ++count.republished;
            }
            break;
        }
    }
    transaction.commit();
    return count;
}

std::vector<ProxyRecord> PostgresStore::entries(ProxyState state) {
    ensureConnected();
    const auto result = run("entries", {stateName(state)});
    std::vector<ProxyRecord> records;
    records.reserve(static_cast<std::size_t>(result.rows()));
    for (int row = 0; row < result.rows(); ++row)
        records.push_back({result.text(row, 0), state, result.integer(row, 1), static_cast<int>(result.integer(row, 2)),
                           result.integer(row, 3), static_cast<long>(result.integer(row, 4)), result.text(row, 5)});
    return records;
}

std::vector<std::string> PostgresStore::takeDueChecks(std::int64_t now, std::int64_t lease, int limit) {
    ensureConnected();
    const auto result = run("take", {std::to_string(now), std::to_string(lease), std::to_string(limit)});
    std::vector<std::string> taken;
    for (int row = 0; row < result.rows(); ++row)
        taken.push_back(result.text(row, 0));
    return taken;
}

ProxyStore::CheckOutcome PostgresStore::recordCheck(const std::string& entry, const CheckReport& check) {
    ensureConnected();
    Transaction<PostgresStore> transaction(*this, "BEGIN");
    const auto row = run("checked", {entry});
    if (row.rows() == 0)
        return CheckOutcome::Unknown;
    const ProxyState state = stateFromName(row.text(0, 0));
    if (state == ProxyState::Withdrawn)
        return CheckOutcome::Unknown;
    const auto failures = check.works ? 0 : row.integer(0, 1) + 1;
    const bool asked = row.text(0, 2) == "t";
    ProxyState next = state;
    CheckOutcome outcome = check.works ? CheckOutcome::Kept : CheckOutcome::Failed;
    if (check.works && state == ProxyState::Pending && check.publish) {
        next = ProxyState::Published;
        outcome = CheckOutcome::Published;
    } else if (!check.works && (state == ProxyState::Pending || asked || failures >= check.withdrawAfter)) {
        next = ProxyState::Withdrawn;
        outcome = CheckOutcome::Withdrawn;
    }
    run("record", {entry, stateName(next), std::to_string(check.now), std::to_string(check.works ? check.ms : -1),
                   std::to_string(failures), check.works ? std::string() : check.note, std::to_string(check.nextDue)});
    if (next == ProxyState::Withdrawn)
        run("clear", {entry});
    transaction.commit();
    return outcome;
}

ProxyStore::ReportResult PostgresStore::askForCheck(const std::string& entry, std::int64_t now) {
    ensureConnected();
    Transaction<PostgresStore> transaction(*this, "BEGIN");
    ProxyState state{};
    if (!lockState(entry, state) || state == ProxyState::Pending)
        return ReportResult::Unknown;
    if (state == ProxyState::Withdrawn)
        return ReportResult::AlreadyWithdrawn;
    const bool asked = run("ask", {entry, std::to_string(now)}).changed() > 0;
    transaction.commit();
    return asked ? ReportResult::Counted : ReportResult::Repeated;
}

int PostgresStore::scheduleChecks(std::int64_t now, std::int64_t period, int limit) {
    ensureConnected();
    Transaction<PostgresStore> transaction(*this, "BEGIN");
    const auto unscheduled = run("unscheduled", {std::to_string(limit)});
    for (int row = 0; row < unscheduled.rows(); ++row) {
        const std::string entry = unscheduled.text(row, 0);
        run("schedule", {entry, std::to_string(now + spreadOffset(entry, period))});
    }
    transaction.commit();
    return unscheduled.rows();
}

bool PostgresStore::listenerUsable() {
    if (m_listener && PQstatus(m_listener) == CONNECTION_OK)
        return true;
    if (m_listener) {
        PQfinish(m_listener);
        m_listener = nullptr;
        log("lost the PostgreSQL notification connection; checking the list every second until it is back");
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastListenAttempt < kFallbackEvery)
        return false;
    m_lastListenAttempt = now;
    std::string error;
    m_listener = connect(true, error);
    if (!m_listener)
        return false;
    if (m_listenerReported)
        log("listening for PostgreSQL notifications again");
    m_listenerReported = true;
    m_listenerFresh = true;
    return true;
}

void PostgresStore::waitForChange(std::chrono::milliseconds timeout) {
    if (!listenerUsable()) {
        std::this_thread::sleep_for(timeout);
        return;
    }
    pollfd watched{PQsocket(m_listener), POLLIN, 0};
    ::poll(&watched, 1, static_cast<int>(timeout.count()));
}

bool PostgresStore::changedElsewhere() {
    if (m_listener)
        PQconsumeInput(m_listener); // a dropped connection shows in its status
    if (!listenerUsable()) {
        const auto now = std::chrono::steady_clock::now();
        if (now - m_lastFallback < kFallbackEvery)
            return false;
        m_lastFallback = now;
        return true;
    }
    // Whatever happened while nobody listened is unknown: check once.
    bool changed = m_listenerFresh;
    m_listenerFresh = false;
    while (PGnotify* notify = PQnotifies(m_listener)) {
        if (notify->be_pid != m_backendPid.load())
            changed = true;
        PQfreemem(notify);
    }
    return changed;
}

} // namespace tamberly
