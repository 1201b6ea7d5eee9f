// The server's own checks of proxies (--verify), against real proxies of the test's own on 127.0.0.1.

#include "listserver_process.h"
#include "postgres_server.h"
#include "proxy_verifier.h"

#include "support/temp_dir.h"
#include "support/test_proxy.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace tamberly::test {
namespace {

const std::string kList = "/Tamberly/update.php";
const std::string kPage = "/Tamberly/index.php";

std::string add(const std::string& entry) {
    return "/Tamberly/addproxy.php?proxy=" + entry;
}

std::string dead(const std::string& entry) {
    return "/Tamberly/deadproxy.php?proxy=" + entry;
}

// Whether the condition holds within the time; checked every 50 ms.
bool becomes(const std::function<bool()>& wanted, std::chrono::seconds within) {
    const auto end = std::chrono::steady_clock::now() + within;
    while (std::chrono::steady_clock::now() < end) {
        if (wanted())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return wanted();
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A port on 127.0.0.1 that listens and never accepts: a connection to it stays queued, so the test can tell
// whether anything ever connected.
class Tripwire {
public:
    Tripwire() {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 || ::listen(m_socket, 16) != 0)
            throw std::runtime_error("the tripwire could not listen on 127.0.0.1");
        m_port = ntohs(address.sin_port);
    }
    ~Tripwire() { ::close(m_socket); }
    Tripwire(const Tripwire&) = delete;
    Tripwire& operator=(const Tripwire&) = delete;
    int port() const { return m_port; }
    bool touched() const {
        pollfd wait{m_socket, POLLIN, 0};
        return ::poll(&wait, 1, 0) > 0;
    }

private:
    int m_socket = -1;
    int m_port = 0;
};

// A proxy that answers every request with the check page's text itself, as a caching proxy would, a second later
// (so that a check lasts long enough for another server to look for due checks meanwhile), and notes when each
// request came: two checks of one entry in one round would come within moments of each other.
class StampingProxy {
public:
    StampingProxy() {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 || ::listen(m_socket, 64) != 0)
            throw std::runtime_error("the stamping proxy could not listen on 127.0.0.1");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~StampingProxy() {
        ::shutdown(m_socket, SHUT_RDWR);
        m_thread.join();
        for (auto& answering : m_answering)
            answering.join();
        ::close(m_socket);
    }
    StampingProxy(const StampingProxy&) = delete;
    StampingProxy& operator=(const StampingProxy&) = delete;
    std::string entry() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::vector<std::chrono::steady_clock::time_point> stamps() const {
        std::lock_guard lock(m_mutex);
        return m_stamps;
    }

private:
    void serve() {
        for (int client; (client = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
            m_answering.emplace_back([this, client] { answer(client); });
    }
    void answer(int client) {
        std::string head;
        char buffer[4096];
        for (ssize_t n;
             head.find("\r\n\r\n") == std::string::npos && (n = ::recv(client, buffer, sizeof buffer, 0)) > 0;)
            head.append(buffer, static_cast<std::size_t>(n));
        {
            std::lock_guard lock(m_mutex);
            m_stamps.push_back(std::chrono::steady_clock::now());
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 17\r\nConnection: close\r\n\r\n"
                                   "tamberly-check-ok";
        ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        ::close(client);
    }

    int m_socket = -1;
    int m_port = 0;
    std::thread m_thread;
    std::vector<std::thread> m_answering; // only the accepting thread adds, and it has ended when they are joined
    mutable std::mutex m_mutex;
    std::vector<std::chrono::steady_clock::time_point> m_stamps;
};

enum class Backend { Sqlite, Postgres };

void PrintTo(Backend backend, std::ostream* out) {
    *out << (backend == Backend::Sqlite ? "SQLite" : "PostgreSQL");
}

class VerifyTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam() == Backend::Postgres) {
            auto& postgres = PostgresServer::shared();
            ASSERT_EQ(postgres.error(), "");
            m_db = postgres.createDatabase();
            ASSERT_FALSE(m_db.empty());
        }
    }
    /// A checking server for loopback proxies, with the arguments added.
    std::unique_ptr<ServerProcess> server(std::vector<std::string> args = {}) const {
        args.insert(args.end(), {"--db", m_db, "--verify", "--allow-private-entries"});
        return std::make_unique<ServerProcess>(args);
    }
    std::string withdrawn() const { return runListServer({"withdrawn", "--db", m_db, "--allow-private-entries"}).out; }

    TempDir m_dir;
    std::string m_db = m_dir.file("list.db");
};

TEST_P(VerifyTest, PublishesAWorkingProxyOnlyAfterItsCheckAndNeverADeadOne) {
    TestProxy working(TestProxy::Mode::Forward);
    TestProxy refusing(TestProxy::Mode::Refusing);
    TestProxy portal(TestProxy::Mode::OwnPage);
    const auto listServer = server();
    for (const auto* proxy : {&refusing, &working, &portal})
        EXPECT_EQ(get(*listServer, add(proxy->entry())).status, 200);

    bool deadSeen = false;
    EXPECT_TRUE(becomes(
        [&] {
            const std::string list = get(*listServer, kList).body;
            deadSeen = deadSeen || contains(list, refusing.entry()) || contains(list, portal.entry());
            return list == working.entry() + "*";
        },
        std::chrono::seconds(15)));
    EXPECT_FALSE(deadSeen);
    EXPECT_GE(working.requests(), 1);
    EXPECT_EQ(working.requestLines().front().rfind(
                  "GET http://127.0.0.1:" + std::to_string(listServer->port()) + "/Tamberly/check.php ", 0),
              0u)
        << "the check fetches the server's own test page through the proxy";

    const std::string gone = withdrawn();
    EXPECT_TRUE(contains(gone, refusing.entry() + "\tfailed its check: refused")) << gone;
    EXPECT_TRUE(contains(gone, portal.entry() + "\tfailed its check: wrong answer")) << gone;
    EXPECT_TRUE(
        becomes([&] { return contains(get(*listServer, kPage).body, "<td>works, "); }, std::chrono::seconds(3)));
    EXPECT_EQ(get(*listServer, add(working.entry())).status, 200);
    EXPECT_EQ(get(*listServer, kList).body, working.entry() + "*") << "sent again: stays listed";
}

TEST_P(VerifyTest, RechecksWithdrawAnEntryAfterThreeFailuresInARow) {
    auto proxy = std::make_unique<TestProxy>(TestProxy::Mode::Forward);
    const std::string entry = proxy->entry();
    const auto listServer = server({"--recheck", "2s"});
    ASSERT_EQ(get(*listServer, add(entry)).status, 200);
    ASSERT_TRUE(becomes([&] { return get(*listServer, kList).body == entry + "*"; }, std::chrono::seconds(10)));
    proxy.reset(); // the proxy dies: its port refuses connections now

    // A failed check shows on the page while the entry is still listed; the third one withdraws it.
    EXPECT_TRUE(becomes(
        [&] {
            return contains(get(*listServer, kPage).body, "failed (refused)") &&
                   get(*listServer, kList).body == entry + "*";
        },
        std::chrono::seconds(10)));
    EXPECT_TRUE(becomes([&] { return get(*listServer, kList).body.empty(); }, std::chrono::seconds(15)));
    EXPECT_TRUE(contains(withdrawn(), entry + "\tfailed its check: refused"));
    EXPECT_TRUE(contains(listServer->log(), "withdrew " + entry + ": refused"));
}

TEST_P(VerifyTest, ADeadReportAsksForACheckThatWithdrawsOnlyADeadEntry) {
    TestProxy working(TestProxy::Mode::Forward);
    auto dying = std::make_unique<TestProxy>(TestProxy::Mode::Forward);
    const std::string dyingEntry = dying->entry();
    const auto listServer = server(); // re-checks only every hour: what follows is the reports' doing
    ASSERT_EQ(get(*listServer, add(working.entry())).status, 200);
    ASSERT_EQ(get(*listServer, add(dyingEntry)).status, 200);
    ASSERT_TRUE(becomes(
        [&] {
            const std::string list = get(*listServer, kList).body;
            return contains(list, working.entry() + "*") && contains(list, dyingEntry + "*");
        },
        std::chrono::seconds(10)));
    dying.reset();
    const int checksBefore = working.requests();

    EXPECT_EQ(get(*listServer, dead(working.entry())).status, 200);
    EXPECT_EQ(get(*listServer, dead(dyingEntry)).status, 200);
    EXPECT_EQ(get(*listServer, dead("127.0.0.1:1")).status, 404);
    EXPECT_TRUE(
        becomes([&] { return get(*listServer, kList).body == working.entry() + "*"; }, std::chrono::seconds(10)))
        << "one report, one failed check: withdrawn";
    EXPECT_TRUE(becomes([&] { return working.requests() > checksBefore; }, std::chrono::seconds(10)))
        << "the working entry was checked again";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(get(*listServer, kList).body, working.entry() + "*") << "and passed: it stays";
}

TEST_P(VerifyTest, ModerationStillDecidesAndWaitingEntriesAreCapped) {
    TestProxy working(TestProxy::Mode::Forward);
    {
        const auto moderated = server({"--moderate"});
        ASSERT_EQ(get(*moderated, add(working.entry())).status, 200);
        EXPECT_TRUE(becomes([&] { return working.requests() > 0; }, std::chrono::seconds(10)));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(get(*moderated, kList).body, "") << "a working entry still waits for approval";
        EXPECT_EQ(runListServer({"pending", "--db", m_db}).out, working.entry() + "\n");
        ASSERT_EQ(runListServer({"approve", working.entry(), "--db", m_db}).exitCode, 0);
        EXPECT_TRUE(
            becomes([&] { return get(*moderated, kList).body == working.entry() + "*"; }, std::chrono::seconds(3)));
    }
    // Entries waiting for their check count against --max-pending: one that never answers holds the only place.
    TestProxy silent(TestProxy::Mode::Silent);
    const auto capped = server({"--max-pending", "1"});
    ASSERT_EQ(get(*capped, add(silent.entry())).status, 200);
    const auto full = get(*capped, add("127.0.0.2:8080"));
    EXPECT_EQ(full.status, 503);
    EXPECT_EQ(full.body, "too many proxies are waiting for their check; try again later");
    EXPECT_TRUE(becomes([&] { return contains(withdrawn(), silent.entry() + "\tfailed its check: timed out"); },
                        std::chrono::seconds(10)))
        << "5 s at most";
    EXPECT_EQ(get(*capped, add("127.0.0.2:8080")).status, 200) << "the place is free again";
}

INSTANTIATE_TEST_SUITE_P(Backends, VerifyTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return info.param == Backend::Sqlite ? "SQLite" : "PostgreSQL"; });

TEST(VerifyRules, RefusesPrivateEntriesAndNeverConnectsToANameThatLeadsToOne) {
    TempDir dir;
    Tripwire tripwire;
    // The server's resolver reads a hosts file of the test's own: the name leads to the tripwire, on loopback.
    const std::string hosts = dir.file("hosts");
    std::ofstream(hosts) << "127.0.0.1 trap.example.test\n::1 trap6.example.test\n";
    const std::vector<std::string> wrapper = {
        "unshare", "--map-root-user", "--mount", "sh", "-c", "mount --bind \"$0\" /etc/hosts && exec \"$@\"", hosts};
    // The public address only has to be given: no check here may fetch it.
    ServerProcess listServer({"--db", dir.file("list.db"), "--verify", "--public-url", "http://127.0.0.1:9"}, wrapper);

    for (const std::string entry :
         {"127.0.0.1:8080", "10.1.2.3:8080", "169.254.1.1:80", "[::1]:8080", "[::ffff:127.0.0.1]:80", "localhost:3128"})
        EXPECT_EQ(get(listServer, add(entry)).status, 400) << entry;

    const std::string trap = "trap.example.test:" + std::to_string(tripwire.port());
    const std::string trap6 = "trap6.example.test:" + std::to_string(tripwire.port());
    EXPECT_EQ(get(listServer, add(trap)).status, 200) << "a name passes at submission";
    EXPECT_EQ(get(listServer, add(trap6)).status, 200);
    std::string gone;
    EXPECT_TRUE(becomes(
        [&] {
            gone = runListServer({"withdrawn", "--db", dir.file("list.db")}).out;
            return contains(gone, trap + "\t") && contains(gone, trap6 + "\t");
        },
        std::chrono::seconds(10)));
    EXPECT_TRUE(contains(gone, trap + "\tfailed its check: not checked: trap.example.test resolves to 127.0.0.1, a "
                                      "loopback address"))
        << gone;
    EXPECT_TRUE(contains(gone, trap6 + "\tfailed its check: not checked: trap6.example.test resolves to ::1")) << gone;
    EXPECT_EQ(get(listServer, kList).body, "");
    EXPECT_FALSE(tripwire.touched()) << "nothing connected to the address the name leads to";
}

// The address rule of the checks, on literals (nothing is resolved or connected to): a check may connect only to
// an address a proxy out there can have, and the pinned target is the address judged, with the entry's port.
TEST(VerifyRules, PinsOnlyAddressesAProxyOutThereCanHave) {
    struct Case {
        std::string entry;
        std::string target; // empty: refused
    };
    const Case cases[] = {
        {"8.8.8.8:3128", "8.8.8.8:3128"},
        {"[2a00:1450:4001:80b::200e]:8080", "[2a00:1450:4001:80b::200e]:8080"},
        {"127.0.0.1:80", ""},
        {"10.0.0.1:80", ""},
        {"172.16.5.4:80", ""},
        {"192.168.1.1:80", ""},
        {"169.254.169.254:80", ""},
        {"100.64.0.1:80", ""},
        {"224.0.0.1:80", ""},
        {"240.0.0.1:80", ""},
        {"0.0.0.0:80", ""},
        {"192.0.2.1:80", ""},
        {"198.18.0.1:80", ""},
        {"[::1]:80", ""},
        {"[fe80::1]:80", ""},
        {"[fd00::1]:80", ""},
        {"[fec0::1]:80", ""},
        {"[ff02::1]:80", ""},
        {"[::7f00:1]:80", ""},       // IPv4-compatible 127.0.0.1
        {"[64:ff9b::a00:1]:80", ""}, // NAT64 of 10.0.0.1
        {"[2002:7f00:1::1]:80", ""}, // 6to4 of 127.0.0.1
        {"[2001:0:4136::1]:80", ""}, // Teredo
        {"[2001:db8::1]:80", ""},
        {"localhost:80", ""},
    };
    for (const auto& c : cases) {
        const PinnedEntry pinned = pinEntry(c.entry, false);
        EXPECT_EQ(pinned.target, c.target) << c.entry;
        EXPECT_EQ(pinned.refusal.empty(), !c.target.empty()) << c.entry << ": " << pinned.refusal;
    }
    EXPECT_EQ(pinEntry("127.0.0.1:80", true).target, "127.0.0.1:80") << "a LAN's list checks its own addresses";
    EXPECT_EQ(pinEntry("[fd00::1]:80", true).target, "[fd00::1]:80");
    EXPECT_EQ(pinEntry("0.0.0.0:80", true).target, "") << "never an address that is no proxy";
}

TEST(VerifyRules, AnUnreachableCheckPageBlamesNoProxy) {
    TempDir dir;
    TestProxy working(TestProxy::Mode::Forward);
    TestProxy nowhere(TestProxy::Mode::Refusing); // the public address given, where nothing answers
    ServerProcess listServer({"--db", dir.file("list.db"), "--verify", "--allow-private-entries", "--public-url",
                              "http://127.0.0.1:" + std::to_string(nowhere.port())});
    ASSERT_EQ(get(listServer, add(working.entry())).status, 200);
    EXPECT_TRUE(becomes([&] { return contains(listServer.log(), "no proxy checked: the check page is out of reach"); },
                        std::chrono::seconds(10)))
        << listServer.log();
    EXPECT_EQ(runListServer({"pending", "--db", dir.file("list.db"), "--allow-private-entries"}).out,
              working.entry() + "\n")
        << "still waiting for a check";
    EXPECT_EQ(runListServer({"withdrawn", "--db", dir.file("list.db"), "--allow-private-entries"}).out, "");
    EXPECT_EQ(working.requests(), 0);
}

TEST(VerifyRules, RefusesToStartWhereProxiesCouldNotReachIt) {
    TempDir dir;
    const std::string db = dir.file("list.db");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"serve", "--verify", "--listen", "127.0.0.1:0"},
         "--verify needs --public-url here: the server listens on 127.0.0.1, a loopback address"},
        {{"serve", "--verify", "--listen", "[::1]:0"}, "the server listens on ::1, a loopback address"},
        {{"serve", "--verify", "--allow-private-entries", "--listen", "0.0.0.0:0"},
         "the server listens on 0.0.0.0, an unspecified address (0.0.0.0/8), and each proxy"},
        {{"serve", "--recheck", "1h"}, "--recheck applies only with --verify"},
        {{"serve", "--verify", "--public-url", "ftp://example.org"}, "--public-url wants the server's address"},
        {{"serve", "--verify", "--recheck", "0"}, "--recheck wants a time"},
        {{"serve", "--verify", "--checks-at-once", "0"}, "--checks-at-once wants a number"},
    };
    for (const auto& c : cases) {
        auto args = c.args;
        args.insert(args.end(), {"--db", db});
        const auto result = runListServer(args);
        EXPECT_NE(result.exitCode, 0) << c.message;
        EXPECT_TRUE(contains(result.err, c.message)) << result.err;
    }
}

TEST(VerifyCluster, TwoServersOnOnePostgresDatabaseCheckEachDueEntryOncePerRound) {
    auto& postgres = PostgresServer::shared();
    ASSERT_EQ(postgres.error(), "");
    const std::string db = postgres.createDatabase();
    std::vector<std::unique_ptr<StampingProxy>> proxies;
    std::string list;
    for (int i = 0; i < 6; ++i) {
        proxies.push_back(std::make_unique<StampingProxy>());
        list += proxies.back()->entry() + "*";
    }
    ASSERT_EQ(runListServer({"import", "-", "--db", db, "--allow-private-entries"}, list).exitCode, 0);

    const std::vector<std::string> args = {"--db", db, "--verify", "--allow-private-entries", "--recheck", "2s"};
    ServerProcess first(args);
    ServerProcess second(args);
    std::this_thread::sleep_for(std::chrono::seconds(7));
    // Either server's page shows every entry's last check, whichever server made it.
    for (const auto* server : {&first, &second}) {
        const std::string page = get(*server, kPage).body;
        for (const auto& proxy : proxies)
            EXPECT_TRUE(contains(page, "<tr><td>" + proxy->entry() + "</td><td>")) << page;
        std::size_t works = 0;
        for (auto at = page.find("<td>works, "); at != std::string::npos; at = page.find("<td>works, ", at + 1))
            ++works;
        EXPECT_EQ(works, proxies.size()) << page;
    }
    first.stop(SIGTERM);
    second.stop(SIGTERM);
    // Rounds come about 3 s apart (a second's answer, then 2 s; whole seconds, so never less than 2 s); two servers
    // taking the same due check would send its two requests within moments.
    for (const auto& proxy : proxies) {
        const auto stamps = proxy->stamps();
        EXPECT_GE(stamps.size(), 2u) << proxy->entry();
        for (std::size_t i = 1; i < stamps.size(); ++i)
            EXPECT_GE(stamps[i] - stamps[i - 1], std::chrono::milliseconds(800)) << proxy->entry() << " check " << i;
    }
}

} // namespace
} // namespace tamberly::test
