// The list server under load: 30 s of wrk fetching the list over 128 connections while 8 clients submit and
// report proxies, on one server with SQLite and on two servers sharing PostgreSQL. No answer may be a server error,
// no submission may be lost, and the database must be whole.
#include "listserver_process.h"
#include "postgres_server.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tamberly::test {
namespace {

constexpr int kWriters = 8;
constexpr const char* kDuration = "30s";
constexpr const char* kConnections = "128";

// Counts wrk's answers by status, checks that each list ends in "*", and prints the totals for the test to read.
constexpr const char* kScript = R"(
local threads = {}
function setup(thread) table.insert(threads, thread) end
function init(args) answers = {}; malformed = 0 end
function response(status, headers, body)
  answers[status] = (answers[status] or 0) + 1
  if status == 200 and #body > 0 and body:sub(-1) ~= "*" then malformed = malformed + 1 end
end
function done(summary, latency, requests)
  local total, bad = {}, 0
  for _, thread in ipairs(threads) do
    for status, count in pairs(thread:get("answers")) do total[status] = (total[status] or 0) + count end
    bad = bad + thread:get("malformed")
  end
  for status, count in pairs(total) do io.write(string.format("status %d %d\n", status, count)) end
  local e = summary.errors
  io.write(string.format("requests %d\nmicroseconds %d\nmalformed %d\n", summary.requests, summary.duration, bad))
  io.write(string.format("socket_errors %d\n", e.connect + e.read + e.write + e.timeout))
  io.write(string.format("p99_microseconds %d\n", latency:percentile(99)))
end
)";

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

/// Runs a program to its end with its standard output in a file; the exit status.
int runToEnd(const std::vector<std::string>& args, const std::string& outputFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& arg : copy)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// wrk's figures, from the lines the script prints.
struct LoadFigures {
    std::map<int, long> statuses;
    long requests = -1;
    long microseconds = 0;
    long malformed = -1;
    long socketErrors = -1;
    long p99Microseconds = 0;
};

LoadFigures parseFigures(const std::string& output) {
    LoadFigures figures;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        if (name == "status") {
            int status = 0;
            long count = 0;
            words >> status >> count;
            figures.statuses[status] = count;
        } else if (name == "requests") {
            words >> figures.requests;
        } else if (name == "microseconds") {
            words >> figures.microseconds;
        } else if (name == "malformed") {
            words >> figures.malformed;
        } else if (name == "socket_errors") {
            words >> figures.socketErrors;
        } else if (name == "p99_microseconds") {
            words >> figures.p99Microseconds;
        }
    }
    return figures;
}

std::string entryName(int writer, int i) {
    return "10." + std::to_string(writer) + "." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + ":80";
}

// One writer's requests: every entry it submitted (in order) and how many reports against each were answered.
// Every tenth entry is reported twice, which withdraws it (--dead-after 2).
struct Writer {
    std::vector<std::string> submitted;
    std::map<std::string, int> reports;
    std::vector<std::string> errors;
    long requests = 0;
};

// Submits to one server and sends the reports to it and to the other (the same one when there is one).
void write(const ServerProcess& server, const ServerProcess& other, int index, const std::atomic<bool>& loadRunning,
           Writer& writer) {
    // A write may wait behind the load on a busy machine: what counts is that it is answered and kept.
    auto http = server.client();
    http.set_keep_alive(true);
    http.set_read_timeout(std::chrono::seconds(30));
    auto otherHttp = other.client();
    otherHttp.set_keep_alive(true);
    otherHttp.set_read_timeout(std::chrono::seconds(30));
    int sent = 0;
    const auto send = [&](const std::string& target, int reporter = 0) {
        ++writer.requests;
        // Behind the trusted 127.0.0.1, each report of an entry comes from a reporter of its own.
        const httplib::Headers from{{"X-Forwarded-For", "198.51.100." + std::to_string(reporter + 1)}};
        auto result = (sent++ % 2 ? otherHttp : http).Get(target.c_str(), from);
        if (!result || result->status != 200)
            writer.errors.push_back(target + ": " + (result ? std::to_string(result->status) : "no answer"));
        return result && result->status == 200;
    };
    for (int i = 0; loadRunning; ++i) {
        const std::string entry = entryName(index, i);
        sent = 0;
        if (!send("/Tamberly/addproxy.php?proxy=" + entry))
            continue;
        writer.submitted.push_back(entry);
        writer.reports[entry] = 0;
        for (int report = 0; report < (i % 10 == 9 ? 2 : 1); ++report)
            if (send("/Tamberly/deadproxy.php?proxy=" + entry, report))
                ++writer.reports[entry];
    }
}

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> entries;
    for (std::size_t start = 0, star; (star = list.find('*', start)) != std::string::npos; start = star + 1)
        entries.push_back(list.substr(start, star - start));
    return entries;
}

std::map<std::string, std::string> storedRows(const std::string& path, std::string& integrity) {
    std::map<std::string, std::string> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT entry, state, reports FROM proxies", -1, &statement, nullptr);
        while (statement && sqlite3_step(statement) == SQLITE_ROW)
            rows[reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))] =
                std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1))) + " " +
                std::to_string(sqlite3_column_int(statement, 2));
        sqlite3_finalize(statement);
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr);
        if (statement && sqlite3_step(statement) == SQLITE_ROW)
            integrity = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
}

// What a run found in the database: entry -> "state reports"; integrity is "ok" when the database is whole.
using RowsReader = std::function<std::map<std::string, std::string>(std::string& integrity)>;

// wrk against every server's list at once while the writers send to all of them; then every answered write is
// checked against the lists and the stored rows.
void loadAndCheck(const std::vector<const ServerProcess*>& servers, const RowsReader& readRows, const TempDir& dir) {
    const std::string wrk = findProgram("wrk");
    writeFile(dir.file("count.lua"), kScript);
    const int connections = std::atoi(kConnections) / static_cast<int>(servers.size());

    std::atomic<bool> loadRunning{true};
    std::vector<Writer> writers(kWriters);
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        const auto& server = *servers[static_cast<std::size_t>(w) % servers.size()];
        const auto& other = *servers[static_cast<std::size_t>(w + 1) % servers.size()];
        threads.emplace_back([&, w] { write(server, other, w, loadRunning, writers[w]); });
    }
    std::vector<int> wrkExits(servers.size(), -1);
    std::vector<std::thread> loads;
    for (std::size_t i = 0; i < servers.size(); ++i) {
        loads.emplace_back([&, i] {
            wrkExits[i] = runToEnd({wrk, "-t2", "-c" + std::to_string(connections), std::string("-d") + kDuration,
                                    "--timeout", "10s", "-s", dir.file("count.lua"),
                                    "http://127.0.0.1:" + std::to_string(servers[i]->port()) + "/Tamberly/update.php"},
                                   dir.file("wrk.out" + std::to_string(i)));
        });
    }
    for (auto& load : loads)
        load.join();
    loadRunning = false;
    for (auto& thread : threads)
        thread.join();

    LoadFigures load;
    load.requests = load.malformed = load.socketErrors = 0;
    for (std::size_t i = 0; i < servers.size(); ++i) {
        const std::string wrkOutput = readFile(dir.file("wrk.out" + std::to_string(i)));
        ASSERT_EQ(wrkExits[i], 0) << wrkOutput;
        const LoadFigures one = parseFigures(wrkOutput);
        ASSERT_GT(one.requests, 0) << wrkOutput;
        EXPECT_EQ(one.statuses, (std::map<int, long>{{200, one.requests}})) << wrkOutput;
        EXPECT_EQ(one.malformed, 0);
        EXPECT_EQ(one.socketErrors, 0) << wrkOutput;
        load.requests += one.requests;
        load.malformed += one.malformed;
        load.socketErrors += one.socketErrors;
        for (const auto& [status, count] : one.statuses)
            load.statuses[status] += count;
        load.microseconds = std::max(load.microseconds, one.microseconds);
        load.p99Microseconds = std::max(load.p99Microseconds, one.p99Microseconds);
    }

    // Every answered submission is on the list, in each writer's order, unless two reports withdrew it.
    std::set<std::string> expectedListed;
    long submissions = 0, writes = 0;
    for (const auto& writer : writers) {
        EXPECT_EQ(writer.errors, std::vector<std::string>{});
        submissions += static_cast<long>(writer.submitted.size());
        writes += writer.requests;
        for (const auto& entry : writer.submitted)
            if (writer.reports.at(entry) < 2)
                expectedListed.insert(entry);
    }
    // Each server has the same list once the last changes reached it.
    std::vector<std::string> listed;
    for (const auto* server : servers) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        do {
            listed = split(get(*server, "/Tamberly/update.php").body);
        } while (std::set<std::string>(listed.begin(), listed.end()) != expectedListed &&
                 std::chrono::steady_clock::now() < deadline &&
                 (std::this_thread::sleep_for(std::chrono::milliseconds(20)), true));
        EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), expectedListed);
        EXPECT_EQ(listed.size(), expectedListed.size()) << "each entry once";
    }
    std::map<std::string, std::size_t> place;
    for (std::size_t i = 0; i < listed.size(); ++i)
        place[listed[i]] = i;
    for (const auto& writer : writers) {
        for (std::size_t i = 1; i < writer.submitted.size(); ++i) {
            if (place.count(writer.submitted[i - 1]) && place.count(writer.submitted[i])) {
                EXPECT_LT(place[writer.submitted[i - 1]], place[writer.submitted[i]]) << writer.submitted[i];
            }
        }
    }

    std::string integrity;
    const auto rows = readRows(integrity);
    EXPECT_EQ(integrity, "ok");
    long found = 0;
    for (const auto& writer : writers) {
        for (const auto& entry : writer.submitted) {
            const int reports = writer.reports.at(entry);
            const auto row = rows.find(entry);
            ASSERT_NE(row, rows.end()) << entry << " was answered OK but is not stored";
            EXPECT_EQ(row->second, (reports >= 2 ? "withdrawn " : "published ") + std::to_string(reports)) << entry;
            ++found;
        }
    }
    EXPECT_EQ(rows.size(), static_cast<std::size_t>(submissions)) << "nothing stored that nobody sent";

    const double seconds = static_cast<double>(load.microseconds) / 1e6;
    std::cout << servers.size() << (servers.size() == 1 ? " list server" : " list servers")
              << " under load: " << load.requests << " list requests in " << seconds << " s ("
              << static_cast<long>(static_cast<double>(load.requests) / seconds) << " a second, 99% within "
              << load.p99Microseconds / 1000.0 << " ms) over " << kConnections << " connections; " << load.socketErrors
              << " socket errors, " << (load.requests - (load.statuses.count(200) ? load.statuses.at(200) : 0))
              << " answers other than 200; " << kWriters << " writers sent " << writes << " requests: " << submissions
              << " submissions answered, " << found << " found stored, " << listed.size() << " listed at the end\n";
}

TEST(ListServerLoad, ServesTheListUnderLoadWhileClientsWrite) {
    if (findProgram("wrk").empty())
        GTEST_SKIP() << "wrk is not installed, so the list server was not put under load "
                        "(scripts/install-deps installs it)";
    TempDir dir;
    const std::string db = dir.file("list.db");
    ServerProcess server({"--db", db, "--dead-after", "2", "--allow-private-entries", "--write-rate", "off",
                          "--trust-proxy", "127.0.0.1"});
    loadAndCheck(
        {&server}, [&](std::string& integrity) { return storedRows(db, integrity); }, dir);
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

// Two servers on one PostgreSQL database, each under its own wrk, with every writer submitting to one and reporting
// to both: the database keeps every write once, and both serve the same list.
TEST(ListServerLoad, TwoServersOnPostgresServeOneListWhileClientsWrite) {
    if (findProgram("wrk").empty())
        GTEST_SKIP() << "wrk is not installed, so the list servers were not put under load "
                        "(scripts/install-deps installs it)";
    PostgresServer postgres;
    ASSERT_EQ(postgres.error(), "");
    const std::string db = postgres.createDatabase();
    ASSERT_FALSE(db.empty());
    TempDir dir;
    const std::vector<std::string> args = {
        "--db",         db,    "--dead-after",  "2",        "--allow-private-entries",
        "--write-rate", "off", "--trust-proxy", "127.0.0.1"};
    ServerProcess first(args);
    ServerProcess second(args);
    loadAndCheck(
        {&first, &second},
        [&](std::string& integrity) {
            std::map<std::string, std::string> rows;
            for (const auto& row : queryRows(db, "SELECT entry, state || ' ' || reports FROM proxies"))
                rows[row.substr(0, row.find('|'))] = row.substr(row.find('|') + 1);
            integrity = "ok";
            return rows;
        },
        dir);
    EXPECT_EQ(first.stop(SIGTERM), 0);
    EXPECT_EQ(second.stop(SIGTERM), 0);
}

} // namespace
} // namespace tamberly::test
