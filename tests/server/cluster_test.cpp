// Several list servers on one PostgreSQL database: changes reach every server, concurrent writes count once, and a
// server or the database going away loses nothing that was answered.
#include "listserver_process.h"
#include "postgres_server.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tamberly::test {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kList = "/Tamberly/update.php";

std::string add(const std::string& entry) {
    return "/Tamberly/addproxy.php?proxy=" + entry;
}

std::string dead(const std::string& entry) {
    return "/Tamberly/deadproxy.php?proxy=" + entry;
}

std::set<std::string> entriesOf(const std::string& list) {
    std::set<std::string> entries;
    for (std::size_t start = 0, star; (star = list.find('*', start)) != std::string::npos; start = star + 1)
        entries.insert(list.substr(start, star - start));
    return entries;
}

/// Polls the server's list until pred holds or the time is up; whether it held.
template <typename Pred> bool listBecomes(const ServerProcess& server, Clock::duration within, Pred pred) {
    const auto deadline = Clock::now() + within;
    do {
        const auto answer = get(server, kList);
        if (answer.status == 200 && pred(answer.body))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < deadline);
    return false;
}

class ClusterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(PostgresServer::shared().error(), "");
        m_db = PostgresServer::shared().createDatabase();
        ASSERT_FALSE(m_db.empty());
    }
    std::vector<std::string> withDb(std::vector<std::string> args) const {
        args.push_back("--db");
        args.push_back(m_db);
        return args;
    }
    /// A server's arguments: test entries in private ranges, writes as fast as the test sends them, and the
    /// reporter named by X-Forwarded-For from 127.0.0.1.
    std::vector<std::string> served(std::vector<std::string> args) const {
        args.insert(args.end(), {"--allow-private-entries", "--write-rate", "off", "--trust-proxy", "127.0.0.1"});
        return withDb(std::move(args));
    }
    std::string row(const std::string& entry) const {
        const auto rows = queryRows(m_db, "SELECT state, reports FROM proxies WHERE entry = '" + entry + "'");
        return rows.size() == 1 ? rows.front() : "rows: " + std::to_string(rows.size());
    }

    std::string m_db;
};

// A write taken by one server, or by a subcommand, is in every server's list well within a second: it is told by a
// notification, not found by a periodic check.
TEST_F(ClusterTest, AChangeReachesEveryServerWithinASecond) {
    ServerProcess first(served({"--dead-after", "1"}));
    ServerProcess second(served({"--dead-after", "1"}));
    for (int i = 1; i <= 5; ++i) {
        const std::string entry = "10.0.0." + std::to_string(i) + ":80";
        ServerProcess& taker = i % 2 ? first : second;
        ServerProcess& other = i % 2 ? second : first;
        ASSERT_EQ(get(taker, add(entry)).status, 200);
        const auto start = Clock::now();
        EXPECT_TRUE(listBecomes(other, std::chrono::seconds(1), [&](const std::string& list) {
            return entriesOf(list).count(entry);
        })) << entry;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    }
    ASSERT_EQ(get(first, dead("10.0.0.2:80")).status, 200);
    EXPECT_TRUE(listBecomes(second, std::chrono::seconds(1), [](const std::string& list) {
        return list == "10.0.0.1:80*10.0.0.3:80*10.0.0.4:80*10.0.0.5:80*";
    }));
    ASSERT_EQ(runListServer(withDb({"remove", "10.0.0.1:80"})).exitCode, 0);
    for (const auto* server : {&first, &second})
        EXPECT_TRUE(listBecomes(*server, std::chrono::seconds(1), [](const std::string& list) {
            return list == "10.0.0.3:80*10.0.0.4:80*10.0.0.5:80*";
        }));
}

// The same submission, or the same report, sent to two servers at the same moment: one row, every reporter counted
// once, one withdrawal.
TEST_F(ClusterTest, WritesSentToTwoServersAtOnceCountOnce) {
    constexpr int kEntries = 20;
    struct Case {
        int deadAfter;
        bool oneReporter;     // both reports from the same client
        std::string rowAfter; // both servers sent one report
    };
    for (const Case& c : {Case{2, false, "withdrawn|2"}, Case{1, false, "withdrawn|1"}, Case{3, false, "published|2"},
                          Case{2, true, "published|1"}}) {
        SCOPED_TRACE("--dead-after " + std::to_string(c.deadAfter) + (c.oneReporter ? ", one reporter" : ""));
        SetUp();
        ServerProcess first(served({"--dead-after", std::to_string(c.deadAfter)}));
        ServerProcess second(served({"--dead-after", std::to_string(c.deadAfter)}));
        std::barrier together(2);
        std::vector<int> failures(2, 0);
        std::vector<std::thread> clients;
        for (int side = 0; side < 2; ++side) {
            clients.emplace_back([&, side] {
                auto http = (side ? second : first).client();
                http.set_keep_alive(true);
                for (int i = 0; i < kEntries; ++i) {
                    const std::string entry = "10.1.0." + std::to_string(i + 1) + ":80";
                    // Both sides start each request together.
                    for (const auto& target : {add(entry), dead(entry)}) {
                        together.arrive_and_wait();
                        const std::string reporter = "198.51.100." + std::to_string(c.oneReporter ? 1 : side + 1);
                        auto answer = http.Get(target.c_str(), httplib::Headers{{"X-Forwarded-For", reporter}});
                        failures[side] += !answer || answer->status != 200;
                    }
                }
            });
        }
        for (auto& client : clients)
            client.join();
        EXPECT_EQ(failures, (std::vector<int>{0, 0}));
        EXPECT_EQ(queryRows(m_db, "SELECT count(*) FROM proxies"), std::vector<std::string>{std::to_string(kEntries)});
        for (int i = 0; i < kEntries; ++i)
            EXPECT_EQ(row("10.1.0." + std::to_string(i + 1) + ":80"), c.rowAfter);
        const auto expected = c.rowAfter.rfind("published", 0) == 0 ? kEntries : 0;
        for (const auto* server : {&first, &second})
            EXPECT_TRUE(listBecomes(*server, std::chrono::seconds(2), [&](const std::string& list) {
                return entriesOf(list).size() == static_cast<std::size_t>(expected);
            }));
    }
}

// Submissions sent to two moderated servers at the same moment never pass the pending cap between them.
TEST_F(ClusterTest, ThePendingCapHoldsAcrossServers) {
    constexpr int kCap = 9; // odd: two servers adding in step would otherwise both take the last place
    ServerProcess first(served({"--moderate", "--max-pending", std::to_string(kCap)}));
    ServerProcess second(served({"--moderate", "--max-pending", std::to_string(kCap)}));
    std::barrier together(2);
    std::vector<std::map<int, int>> statuses(2);
    std::vector<std::thread> clients;
    for (int side = 0; side < 2; ++side) {
        clients.emplace_back([&, side] {
            auto http = (side ? second : first).client();
            http.set_keep_alive(true);
            for (int i = 0; i < kCap; ++i) {
                together.arrive_and_wait();
                const auto answer = http.Get(add("10.2." + std::to_string(side) + "." + std::to_string(i + 1) + ":80"));
                ++statuses[side][answer ? answer->status : -1];
            }
        });
    }
    for (auto& client : clients)
        client.join();
    EXPECT_EQ(statuses[0][200] + statuses[1][200], kCap);
    EXPECT_EQ(statuses[0][503] + statuses[1][503], kCap);
    EXPECT_EQ(queryRows(m_db, "SELECT count(*) FROM proxies WHERE state = 'pending'"),
              std::vector<std::string>{std::to_string(kCap)});
}

// One server killed with SIGKILL in the middle of writes to both: every answered write is in the database and in
// the other server's list, and the other server never stops answering.
TEST_F(ClusterTest, KillingOneServerLosesNoAnsweredWriteAndTheOtherGoesOn) {
    ServerProcess victim(served({}));
    ServerProcess survivor(served({}));
    std::atomic<bool> killed{false};
    std::atomic<bool> done{false};
    std::vector<std::set<std::string>> answered(4);
    std::vector<int> survivorFailures(4, 0);
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c) {
        clients.emplace_back([&, c] {
            const bool toVictim = c % 2 == 0;
            auto http = (toVictim ? victim : survivor).client();
            http.set_keep_alive(true);
            for (int i = 0; !done; ++i) {
                const std::string entry = "10." + std::to_string(c + 10) + "." + std::to_string(i / 250) + "." +
                                          std::to_string(i % 250 + 1) + ":80";
                auto answer = http.Get(add(entry).c_str());
                if (answer && answer->status == 200)
                    answered[c].insert(entry);
                else if (!toVictim)
                    ++survivorFailures[c];
                else if (killed)
                    break;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    killed = true;
    EXPECT_EQ(victim.stop(SIGKILL), 128 + SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    done = true;
    for (auto& client : clients)
        client.join();

    EXPECT_EQ(survivorFailures, (std::vector<int>{0, 0, 0, 0}));
    std::set<std::string> all;
    for (const auto& entries : answered)
        all.insert(entries.begin(), entries.end());
    EXPECT_GT(answered[0].size(), 0u);
    EXPECT_GT(answered[1].size(), 0u);
    std::set<std::string> listed;
    EXPECT_TRUE(listBecomes(survivor, std::chrono::seconds(2),
                            [&](const std::string& list) {
                                listed = entriesOf(list);
                                return std::includes(listed.begin(), listed.end(), all.begin(), all.end());
                            }))
        << all.size() << " answered, " << listed.size() << " listed";
    EXPECT_EQ(survivor.stop(SIGTERM), 0);
}

// The database stopped under a running server: writes get 503 with Retry-After, the list is still served, and once
// the database is back the server reconnects by itself, says so in its log and catches up.
TEST(ListServerDatabaseLoss, ServesTheLastListAndReconnects) {
    PostgresServer postgres; // of its own: this test stops it
    ASSERT_EQ(postgres.error(), "");
    const std::string db = postgres.createDatabase();
    ASSERT_FALSE(db.empty());
    ServerProcess server({"--db", db, "--allow-private-entries"});
    ASSERT_EQ(get(server, add("10.0.0.1:80")).status, 200);

    postgres.stop();
    auto http = server.client();
    for (const auto& target : {add("10.0.0.2:80"), dead("10.0.0.1:80")}) {
        auto refused = http.Get(target.c_str());
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 503) << target;
        EXPECT_FALSE(refused->get_header_value("Retry-After").empty());
    }
    const auto kept = get(server, kList);
    EXPECT_EQ(kept.status, 200);
    EXPECT_EQ(kept.body, "10.0.0.1:80*");

    ASSERT_TRUE(postgres.start());
    // A change made while the server was cut off, by a subcommand: the server finds it once it is back.
    ASSERT_EQ(runListServer({"import", "-", "--db", db, "--allow-private-entries"}, "10.0.0.3:80*").exitCode, 0);
    EXPECT_TRUE(listBecomes(server, std::chrono::seconds(10),
                            [](const std::string& list) { return list == "10.0.0.1:80*10.0.0.3:80*"; }));
    EXPECT_EQ(get(server, add("10.0.0.2:80")).status, 200);
    EXPECT_EQ(get(server, kList).body, "10.0.0.1:80*10.0.0.3:80*10.0.0.2:80*");

    // The notification connection cut alone: the periodic check carries changes until it is back.
    ASSERT_EQ(executeSql(db, "SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                             " WHERE datname = current_database() AND pid <> pg_backend_pid()"),
              "");
    ASSERT_EQ(runListServer({"remove", "10.0.0.3:80", "--db", db}).exitCode, 0);
    EXPECT_TRUE(listBecomes(server, std::chrono::seconds(10),
                            [](const std::string& list) { return list == "10.0.0.1:80*10.0.0.2:80*"; }));
    EXPECT_EQ(server.stop(SIGTERM), 0);
    const auto log = server.log();
    EXPECT_NE(log.find("lost the connection to the PostgreSQL database"), std::string::npos) << log;
    EXPECT_NE(log.find("reconnected to the PostgreSQL database"), std::string::npos) << log;
}

} // namespace
} // namespace tamberly::test
