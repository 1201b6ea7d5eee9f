// The list server killed in the middle of writes, and requests beyond its size limits.
#include "listserver_process.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace tamberly::test {
namespace {

const std::string kList = "/Tamberly/update.php";

std::string entryName(int client, int i) {
    return "10." + std::to_string(client) + "." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + ":80";
}

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> entries;
    for (std::size_t start = 0, star; (star = list.find('*', start)) != std::string::npos; start = star + 1)
        entries.push_back(list.substr(start, star - start));
    return entries;
}

/// Runs one SQL query on the database; the rows, columns joined by "|".
std::vector<std::string> query(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::vector<std::string> rows;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_exec(
            db, sql.c_str(),
            [](void* out, int columns, char** values, char**) {
                std::string row;
                for (int c = 0; c < columns; ++c)
                    row += (c ? "|" : "") + std::string(values[c] ? values[c] : "NULL");
                static_cast<std::vector<std::string>*>(out)->push_back(row);
                return 0;
            },
            &rows, nullptr);
    }
    sqlite3_close(db);
    return rows;
}

// What one client sent and what it was told: for each entry, 1 = sent without an answer (in flight when the
// server died), 2 = answered OK. Any other answer is an error.
struct Outcome {
    std::map<std::string, int> added;
    std::map<std::string, int> reported;
    std::vector<std::string> errors;
};

// Adds entries and reports each one once, until the server stops answering.
void writeUntilKilled(const ServerProcess& server, int client, int first, Outcome& outcome) {
    auto http = server.client();
    http.set_keep_alive(true);
    for (int i = first;; ++i) {
        const std::string entry = entryName(client, i);
        outcome.added[entry] = 1;
        auto added = http.Get(("/Tamberly/addproxy.php?proxy=" + entry).c_str());
        if (added && added->status != 200)
            outcome.errors.push_back(entry + " added: " + std::to_string(added->status));
        if (!added || added->status != 200)
            return;
        outcome.added[entry] = 2;
        outcome.reported[entry] = 1;
        auto reported = http.Get(("/Tamberly/deadproxy.php?proxy=" + entry).c_str());
        if (reported && reported->status != 200)
            outcome.errors.push_back(entry + " reported: " + std::to_string(reported->status));
        if (!reported || reported->status != 200)
            return;
        outcome.reported[entry] = 2;
    }
}

// kill -9 in the middle of a stream of writes loses at most the requests that had no answer yet; the restarted
// server serves every answered one, and the database stays whole.
TEST(ListServerFaults, AKillLosesOnlyTheRequestsInFlight) {
    constexpr int kClients = 4;
    constexpr int kRounds = 5;
    TempDir dir;
    const std::string db = dir.file("list.db");
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> runMs(100, 600);
    std::vector<Outcome> outcomes(kClients);
    std::vector<int> next(kClients, 0);
    int inFlight = 0;

    for (int round = 0; round < kRounds; ++round) {
        ServerProcess server({"--db", db, "--dead-after", "2", "--allow-private-entries", "--write-rate", "off"});
        std::vector<std::thread> clients;
        for (int c = 0; c < kClients; ++c)
            clients.emplace_back([&, c] { writeUntilKilled(server, c, next[c], outcomes[c]); });
        std::this_thread::sleep_for(std::chrono::milliseconds(runMs(random)));
        EXPECT_EQ(server.stop(SIGKILL), 128 + SIGKILL);
        for (auto& client : clients)
            client.join();
        for (int c = 0; c < kClients; ++c)
            next[c] = static_cast<int>(outcomes[c].added.size());
    }

    ServerProcess server({"--db", db, "--dead-after", "2", "--allow-private-entries", "--write-rate", "off"});
    const auto answer = get(server, kList);
    ASSERT_EQ(answer.status, 200);
    std::map<std::string, int> listed;
    for (const auto& entry : split(answer.body))
        ++listed[entry];
    const auto timesListed = [&](const std::string& entry) { return listed.count(entry) ? listed.at(entry) : 0; };
    std::map<std::string, std::string> rows;
    for (const auto& row : query(db, "SELECT entry, state || '|' || reports FROM proxies"))
        rows[row.substr(0, row.find('|'))] = row.substr(row.find('|') + 1);

    int answered = 0, carriedOut = 0;
    for (const auto& outcome : outcomes) {
        EXPECT_EQ(outcome.errors, std::vector<std::string>{});
        for (const auto& [entry, added] : outcome.added) {
            SCOPED_TRACE(entry);
            const auto reported = outcome.reported.count(entry) ? outcome.reported.at(entry) : 0;
            inFlight += added == 1;
            inFlight += reported == 1;
            answered += added == 2;
            answered += reported == 2;
            if (added == 1) {
                EXPECT_LE(timesListed(entry), 1);
                carriedOut += timesListed(entry);
                continue;
            }
            carriedOut += reported == 1 && rows[entry] == "published|1";
            // Answered, so it must be there, listed once, with its report if that was answered too.
            EXPECT_EQ(timesListed(entry), 1);
            if (reported == 2)
                EXPECT_EQ(rows[entry], "published|1");
            else
                EXPECT_TRUE(rows[entry] == "published|0" || rows[entry] == "published|1") << rows[entry];
        }
    }
    EXPECT_EQ(rows.size(), listed.size()) << "nothing but what the clients sent";
    EXPECT_LE(inFlight, kRounds * kClients);
    EXPECT_EQ(server.stop(SIGTERM), 0);
    EXPECT_EQ(query(db, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    std::cout << kRounds << " kills during writes: " << answered << " answered requests all kept, " << inFlight
              << " in flight at the kills, " << carriedOut << " of them carried out\n";
}

// Requests past the limits are refused with a status, never read on without end, and change nothing.
TEST(ListServerFaults, RefusesRequestsOverTheSizeLimits) {
    TempDir dir;
    ServerProcess server({"--db", dir.file("list.db"), "--allow-private-entries"});
    ASSERT_EQ(get(server, "/Tamberly/addproxy.php?proxy=10.0.0.1:80").status, 200);

    EXPECT_EQ(get(server, kList + "?" + std::string(9000, 'q')).status, 414);
    EXPECT_EQ(get(server, "/Tamberly/addproxy.php?proxy=" + std::string(300, 'a') + ".example:80").status, 400);
    auto http = server.client();
    auto large = http.Post("/Tamberly/addproxy.php", std::string(64 * 1024, 'x'), "text/plain");
    ASSERT_TRUE(large);
    EXPECT_EQ(large->status, 413);

    // Header lines without end, each one short: the server stops reading after a bounded amount and answers 400.
    // Up to 256 MiB is offered; what the server took in before closing is at most its limit plus what the socket
    // buffers hold.
    constexpr std::size_t kOffered = 256u * 1024 * 1024;
    constexpr std::size_t kMostTaken = 32u * 1024 * 1024;
    const std::vector<std::string> floods = {"X-Flood: " + std::string(1000, 'a') + "\r\n",
                                             "X-Big: " + std::string(8000, 'b') + "\r\n", "X: y\r\n"};
    for (const auto& line : floods) {
        SCOPED_TRACE(line.substr(0, 12));
        RawClient raw(server.port());
        std::string block;
        while (block.size() < 64 * 1024)
            block += line;
        bool open = raw.send("GET /Tamberly/update.php HTTP/1.1\r\nHost: 127.0.0.1\r\n");
        while (open && raw.sent() < kOffered)
            open = raw.send(block);
        EXPECT_FALSE(open) << "the server read " << raw.sent() << " bytes of headers";
        EXPECT_LT(raw.sent(), kMostTaken);
        EXPECT_EQ(raw.receiveAll().rfind("HTTP/1.1 400 ", 0), 0u);
    }

    const auto list = get(server, kList);
    EXPECT_EQ(list.status, 200);
    EXPECT_EQ(list.body, "10.0.0.1:80*");
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

// Requests read by hand: pipelined ones answered in order; a header line over its limit, an HTTP version other than
// 1.x and malformed heads refused with the connection closed.
TEST(ListServerFaults, AnswersPipelinedRequestsAndRefusesMalformedOnes) {
    TempDir dir;
    ServerProcess server({"--db", dir.file("list.db"), "--allow-private-entries"});
    {
        RawClient raw(server.port());
        ASSERT_TRUE(raw.send("GET /Tamberly/addproxy.php?proxy=10.0.0.1:80 HTTP/1.1\r\nHost: x\r\n\r\n"
                             "GET /Tamberly/update.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
        const std::string answers = raw.receiveAll();
        const auto second = answers.find("HTTP/1.1 200 OK\r\n", 1);
        EXPECT_EQ(answers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answers;
        ASSERT_NE(second, std::string::npos) << answers;
        EXPECT_LT(answers.find("\r\n\r\nOK"), second);
        EXPECT_EQ(answers.substr(answers.size() - 12), "10.0.0.1:80*");
    }
    const std::pair<std::string, std::string> refused[] = {
        {"GET /Tamberly/update.php HTTP/1.1\r\nX-Long: " + std::string(9000, 'a') + "\r\n\r\n", "400"},
        {"GET /Tamberly/update.php HTTP/2.0\r\n\r\n", "400"},
        {"GET /Tamberly/update.php\r\n\r\n", "400"},
        {"GET /Tamberly/update.php HTTP/1.1\r\nNo colon here\r\n\r\n", "400"},
    };
    for (const auto& [request, status] : refused) {
        SCOPED_TRACE(request.substr(0, 40));
        RawClient raw(server.port());
        ASSERT_TRUE(raw.send(request));
        EXPECT_EQ(raw.receiveAll().rfind("HTTP/1.1 " + status + " ", 0), 0u);
    }
    EXPECT_EQ(get(server, kList).body, "10.0.0.1:80*");
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

// A write that waits for a locked database holds up neither the list nor the one event loop that serves it.
TEST(ListServerFaults, ABusyDatabaseDoesNotHoldUpTheList) {
    TempDir dir;
    const std::string db = dir.file("list.db");
    ServerProcess server({"--db", db, "--threads", "1", "--allow-private-entries"});
    ASSERT_EQ(get(server, "/Tamberly/addproxy.php?proxy=10.0.0.1:80").status, 200);

    sqlite3* locker = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &locker), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(locker, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::atomic<int> writeStatus{0};
    std::thread writer([&] { writeStatus = get(server, "/Tamberly/addproxy.php?proxy=10.0.0.2:80").status; });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(get(server, kList).body, "10.0.0.1:80*");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << "the list waited";
    }
    EXPECT_EQ(writeStatus, 0) << "the write was still waiting for the database";
    sqlite3_exec(locker, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(locker);
    writer.join();
    EXPECT_EQ(writeStatus, 200);
    EXPECT_EQ(get(server, kList).body, "10.0.0.1:80*10.0.0.2:80*");
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

} // namespace
} // namespace tamberly::test
