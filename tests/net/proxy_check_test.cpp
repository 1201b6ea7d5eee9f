// The proxy check against proxies of the test's own and a test URL, all on 127.0.0.1.
#include "net/proxy_check.h"

#include "support/http_test_server.h"
#include "support/loopback_network.h"
#include "support/temp_dir.h"
#include "support/test_proxy.h"
#ifdef TAMBERLY_HAVE_LISTSERVER
#include "listserver_process.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace tamberly::test {
namespace {

using namespace std::chrono_literals;
using Mode = TestProxy::Mode;

constexpr const char* kBody = "tamberly-check-ok";

struct ProxyCheckTest : ::testing::Test {
    HttpTestServer target;
    std::atomic<int> served{0};

    ProxyCheckTest() {
        target.get("/Tamberly/check.php",
                   [](const httplib::Request&, httplib::Response& res) { res.set_content(kBody, "text/plain"); });
        target.get("/big", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(64 * 1024, 'x'), "text/plain");
        });
        target.get("/missing", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
        // A captive portal's page, as a list server address that leads to one answers for any path.
        target.get("/portal", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body>Sign in to the hotel network</body></html>", "text/html");
        });
        // A page that differs at each request.
        target.get("/fresh", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content("fresh answer " + std::to_string(++served), "text/plain");
        });
        // A judge that takes its time: entries that work before it has answered wait only for their grade.
        target.get("/slow-judge", [](const httplib::Request& req, httplib::Response& res) {
            std::this_thread::sleep_for(300ms);
            JudgeAnswer seen{req.remote_addr, {}};
            for (const auto& [name, value] : req.headers)
                if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT")
                    seen.headers.emplace_back(name, value);
            res.set_content(formatJudgeAnswer(seen), "text/plain");
        });
        target.start();
    }
    std::string url(const std::string& path = "/Tamberly/check.php") const { return target.baseUrl() + path; }
    TestPage checkPage() const { return {url(), kBody}; }
    int targetRequests() const { return static_cast<int>(target.requestCount()); }
};

TEST_F(ProxyCheckTest, GivesEachVerdictInTheEntriesOrder) {
    TestProxy working(Mode::Forward), slow(Mode::Slow, 400ms), silent(Mode::Silent), login(Mode::AskLogin),
        portal(Mode::OwnPage), refusing(Mode::Refusing), flood(Mode::HeaderFlood), longLine(Mode::LongHeaderLine),
        endless(Mode::EndlessHeaders), badStatus(Mode::BadStatusLine);
    struct Row {
        std::string entry;
        Verdict verdict;
    };
    std::vector<Row> rows = {
        {silent.entry(), Verdict::TimedOut},
        {working.entry(), Verdict::Works},
        {"not a proxy", Verdict::BadEntry},
        {refusing.entry(), Verdict::Refused},
        {login.entry(), Verdict::NeedsPassword},
        {portal.entry(), Verdict::WrongAnswer},
        {slow.entry(), Verdict::Works},
        {"", Verdict::BadEntry},
        // Answers that break HTTP: they answered, so none of them is "refused".
        {flood.entry(), Verdict::WrongAnswer},
        {longLine.entry(), Verdict::WrongAnswer},
        {endless.entry(), Verdict::WrongAnswer},
        {badStatus.entry(), Verdict::WrongAnswer},
    };
    // Names that never resolve, looked up only where no look-up can leave this machine.
    if (loopbackIsolation().empty()) {
        rows.push_back({"no-such-proxy.invalid:8080", Verdict::UnknownHost});
        rows.push_back({"socks5://no-such-proxy.invalid:1080", Verdict::UnknownHost});
    } else {
        std::cout << "[ NOTE ] names that do not resolve left out: " << loopbackIsolation() << "\n";
    }
    std::vector<std::string> entries;
    for (const Row& row : rows)
        entries.push_back(row.entry);
    ProxyCheck check(checkPage(), {.timeLimit = 2000ms});
    std::vector<std::size_t> reported;
    const auto outcome = check.run(entries, [&](std::size_t i, const CheckResult&) { reported.push_back(i); });

    ASSERT_TRUE(outcome.ok) << outcome.error;
    ASSERT_EQ(outcome.results.size(), entries.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(verdictText(outcome.results[i].verdict), std::string(verdictText(rows[i].verdict))) << entries[i];

    // Times: the slow proxy's answer came after its delay, inside the limit; a silent one cost the limit, no more.
    EXPECT_GE(outcome.results[6].totalMs, 400);
    EXPECT_GE(outcome.results[1].connectMs, 0);
    EXPECT_LE(outcome.results[1].connectMs, outcome.results[1].totalMs);
    EXPECT_GE(outcome.results[0].totalMs, 1900);
    EXPECT_LT(outcome.results[0].totalMs, 4000);
    EXPECT_EQ(outcome.results[2].totalMs, -1); // nothing sent for a bad entry

    // One request per entry, each result reported once; the test URL saw its direct GET and the two forwarded.
    EXPECT_EQ(reported.size(), entries.size());
    for (const TestProxy* proxy : {&working, &slow, &login, &portal, &flood, &longLine, &endless, &badStatus})
        EXPECT_EQ(proxy->requests(), 1);
    EXPECT_EQ(working.requestLines(), std::vector<std::string>{"GET " + url() + " HTTP/1.1"});
    EXPECT_EQ(targetRequests(), 3);
}

TEST_F(ProxyCheckTest, ChecksSocks5EntriesThroughTheProxy) {
    TestProxy socks(Mode::Socks5), login(Mode::Socks5Login), http(Mode::Forward);
    ProxyCheck check(checkPage(), {.timeLimit = 1000ms});
    const auto outcome =
        check.run({"socks5://" + socks.entry(), "socks5://" + login.entry(), "socks5://" + http.entry()});
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.results[0].verdict, Verdict::Works);
    EXPECT_EQ(outcome.results[1].verdict, Verdict::NeedsPassword);
    EXPECT_NE(outcome.results[2].verdict, Verdict::Works); // an HTTP proxy does not speak SOCKS
    EXPECT_EQ(socks.requestLines(), std::vector<std::string>{"GET /Tamberly/check.php HTTP/1.1"});
    EXPECT_EQ(targetRequests(), 2);
}

TEST_F(ProxyCheckTest, ASilentProxyCostsTheTimeLimitNeverMore) {
    std::vector<std::unique_ptr<TestProxy>> silent;
    std::vector<std::string> entries;
    for (int i = 0; i < 6; ++i) {
        silent.push_back(std::make_unique<TestProxy>(Mode::Silent));
        entries.push_back(silent.back()->entry());
    }
    // Two at a time: three rounds of the limit, since a transfer's clock starts when it starts, not when queued.
    ProxyCheck check(checkPage(), {.timeLimit = 700ms, .atOnce = 2});
    const auto began = std::chrono::steady_clock::now();
    const auto outcome = check.run(entries);
    const auto took = std::chrono::steady_clock::now() - began;
    ASSERT_TRUE(outcome.ok) << outcome.error;
    for (const auto& result : outcome.results) {
        EXPECT_EQ(result.verdict, Verdict::TimedOut);
        EXPECT_GE(result.totalMs, 690);
        EXPECT_LT(result.totalMs, 700 + 2500) << "a loaded machine may be late, never a whole limit late";
    }
    EXPECT_GE(took, 3 * 690ms);
    EXPECT_LT(took, 3 * 700ms + 5s);
}

TEST_F(ProxyCheckTest, AnEntryGivenTwiceIsCheckedOnceAndNothingGoesElsewhere) {
    TestProxy working(Mode::Forward), trap(Mode::Forward);
    // Proxy settings of the environment must neither take the requests nor let them go direct.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"})
        ::setenv(name, ("http://" + trap.entry()).c_str(), 1);
    ::setenv("no_proxy", "*", 1);
    ProxyCheck check(checkPage());
    const auto outcome = check.run({working.entry(), " " + working.entry() + "\r\n", "http://" + working.entry()});
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "ALL_PROXY", "all_proxy", "no_proxy"})
        ::unsetenv(name);

    ASSERT_TRUE(outcome.ok) << outcome.error;
    for (const auto& result : outcome.results)
        EXPECT_EQ(result.verdict, Verdict::Works);
    EXPECT_EQ(working.requests(), 1);
    EXPECT_EQ(trap.requests(), 0);
    EXPECT_EQ(targetRequests(), 2); // the direct GET and the one forwarded
}

TEST_F(ProxyCheckTest, ATestUrlThatDoesNotAnswerRightStopsTheCheckBeforeAnyProxy) {
    TestProxy working(Mode::Forward);
    TestProxy nothing(Mode::Refusing);
    constexpr const char* kNotACheckPage = "the test URL did not answer as a check page";
    for (const auto& [page, why] : std::vector<std::pair<TestPage, std::string>>{
             {{url("/missing"), ""}, "answers 404"},
             {{url("/big"), ""}, "more than 4096 bytes"},
             {{"http://" + nothing.entry() + "/Tamberly/check.php", ""}, "does not answer"},
             {{"ftp://127.0.0.1/x", ""}, "does not answer"},
             // The check page must show its body: a portal's page, however long, is not it.
             {{url("/portal"), kBody}, kNotACheckPage},
             {{url("/big"), kBody}, kNotACheckPage},
             {{url("/missing"), kBody}, kNotACheckPage},
             {{url("/fresh"), "tamberly"}, kNotACheckPage},
         }) {
        ProxyCheck check(page);
        const auto outcome = check.run({working.entry(), "bad"});
        EXPECT_FALSE(outcome.ok) << page.url;
        EXPECT_NE(outcome.error.find(why), std::string::npos) << outcome.error;
    }
    EXPECT_EQ(working.requests(), 0);

    // Nothing to check: no request at all, not even the direct one.
    const int before = targetRequests();
    ProxyCheck check(checkPage());
    const auto outcome = check.run({"bad", "*", ""});
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.results.size(), 3u);
    EXPECT_EQ(targetRequests(), before);
}

TEST_F(ProxyCheckTest, TheDirectFetchCanBeSkippedOrAskedAlone) {
    TestProxy working(Mode::Forward);
    TestProxy nothing(Mode::Refusing);
    // Skipped: only the GET through the proxy reaches the page.
    TestPage skipped = checkPage();
    skipped.direct = TestPage::Direct::Skip;
    int before = targetRequests();
    auto outcome = ProxyCheck(skipped).run({working.entry()});
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.results.front().verdict, Verdict::Works);
    EXPECT_EQ(targetRequests(), before + 1);
    EXPECT_EQ(working.requests(), 1);

    // Alone: the page without any proxy, and no entry asked; ok tells whether it answered.
    TestPage alone = checkPage();
    alone.direct = TestPage::Direct::Only;
    before = targetRequests();
    outcome = ProxyCheck(alone).run({working.entry()});
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(targetRequests(), before + 1);
    EXPECT_EQ(working.requests(), 1);
    alone.url = "http://" + nothing.entry() + "/Tamberly/check.php";
    outcome = ProxyCheck(alone).run({});
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find("does not answer"), std::string::npos) << outcome.error;
}

TEST_F(ProxyCheckTest, APageOfTheUsersOwnWorksByItsBodyOrTheTextExpected) {
    TestProxy forward(Mode::Forward), portal(Mode::OwnPage);
    struct Case {
        TestPage page;
        Verdict forwarded; // the proxy that passes the page on
    };
    for (const Case& c : std::vector<Case>{
             // Without a text to expect, any 2xx page will do, and a proxy must pass on the same body.
             {{url("/portal"), ""}, Verdict::Works},
             {{url("/fresh"), ""}, Verdict::WrongAnswer},
             // With one, the body must hold it, however else it differs.
             {{url("/fresh"), "fresh answer"}, Verdict::Works},
             {{url("/Tamberly/check.php"), kBody}, Verdict::Works},
         }) {
        ProxyCheck check(c.page);
        const auto outcome = check.run({forward.entry(), portal.entry()});
        ASSERT_TRUE(outcome.ok) << c.page.url << ": " << outcome.error;
        EXPECT_EQ(outcome.results[0].verdict, c.forwarded) << c.page.url << " " << c.page.expect;
        EXPECT_EQ(outcome.results[1].verdict, Verdict::WrongAnswer) << c.page.url << " " << c.page.expect;
    }
}

TEST_F(ProxyCheckTest, AnAnswerOverTheBodyLimitIsAWrongAnswer) {
    TestProxy working(Mode::Forward);
    ProxyCheck small(checkPage(), {.maxBodyBytes = 8});
    EXPECT_FALSE(small.run({working.entry()}).ok); // the test URL's own body is over the limit

    // A page of the proxy's own that is longer than the limit: read no further than the limit.
    ProxyCheck check(checkPage(), {.maxBodyBytes = 32});
    TestProxy portal(Mode::OwnPage);
    const auto outcome = check.run({portal.entry()});
    ASSERT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.results[0].verdict, Verdict::WrongAnswer);
}

TEST_F(ProxyCheckTest, EntriesThatWorkBeforeTheJudgeAnswersAreGradedWhenItDoes) {
    TestProxy transparent(Mode::Transparent), elite(Mode::Elite);
    ProxyCheck check({url(), kBody, url("/slow-judge"), "127.0.0.1"}, {.timeLimit = 3000ms});
    std::vector<std::size_t> reported;
    const auto outcome = check.run({transparent.entry(), elite.entry()},
                                   [&](std::size_t i, const CheckResult&) { reported.push_back(i); });
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_STREQ(verdictText(outcome.results[0].verdict), "works");
    EXPECT_STREQ(verdictText(outcome.results[1].verdict), "works");
    EXPECT_EQ(outcome.results[0].anonymity, Anonymity::Transparent);
    EXPECT_EQ(outcome.results[0].tunnel, Tunnel::No);
    EXPECT_EQ(outcome.results[1].anonymity, Anonymity::Elite);
    EXPECT_EQ(outcome.results[1].tunnel, Tunnel::Yes);
    EXPECT_EQ(reported.size(), 2u);
}

TEST_F(ProxyCheckTest, CancelEndsARunningCheckAtOnce) {
    TestProxy silent(Mode::Silent);
    ProxyCheck check(checkPage(), {.timeLimit = 5000ms});
    std::thread canceller([&] {
        std::this_thread::sleep_for(300ms);
        check.cancel();
    });
    const auto began = std::chrono::steady_clock::now();
    const auto outcome = check.run({silent.entry()});
    const auto took = std::chrono::steady_clock::now() - began;
    canceller.join();
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_LT(took, 2500ms);
}

#ifdef TAMBERLY_HAVE_LISTSERVER
// The graded check against the real list server's test page and judge. The proxies connect out from addresses of
// their own (127.0.0.2 and up), so the judge tells them from the user at 127.0.0.1.
struct GradedCheckTest : ::testing::Test {
    TempDir dir;
    ServerProcess server{{"--db", dir.file("list.db")}};
    std::string base = "http://127.0.0.1:" + std::to_string(server.port()) + "/Tamberly/";
    TestPage page{base + "check.php", "tamberly-check-ok", base + "judge.php", "127.0.0.1"};
};

TEST_F(GradedCheckTest, GradesEachWorkingProxyForAnonymityAndTunnel) {
    for (const int atOnce : {1, 64}) {
        SCOPED_TRACE("at once: " + std::to_string(atOnce));
        TestProxy transparent(Mode::Transparent), anonymous(Mode::Anonymous), elite(Mode::Elite), plain(Mode::Forward),
            socks(Mode::Socks5), refusing(Mode::Refusing);
        struct Row {
            std::string entry;
            Verdict verdict;
            Anonymity anonymity;
            Tunnel tunnel;
        };
        const std::vector<Row> rows = {
            {transparent.entry(), Verdict::Works, Anonymity::Transparent, Tunnel::No}, // CONNECT refused: 403
            {anonymous.entry(), Verdict::Works, Anonymity::Anonymous, Tunnel::Yes},
            // It passes on every line libcurl sends, so none of them may look like a proxy's own.
            {elite.entry(), Verdict::Works, Anonymity::Elite, Tunnel::Yes},
            // These two connect out from the user's own address; the plain one answers CONNECT with 400.
            {plain.entry(), Verdict::Works, Anonymity::Transparent, Tunnel::No},
            {"socks5://" + socks.entry(), Verdict::Works, Anonymity::Transparent, Tunnel::Yes},
            {refusing.entry(), Verdict::Refused, Anonymity::Unknown, Tunnel::Unknown},
        };
        std::vector<std::string> entries;
        for (const Row& row : rows)
            entries.push_back(row.entry);
        std::vector<std::pair<std::size_t, CheckResult>> reported;
        ProxyCheck check(page, {.timeLimit = 3000ms, .atOnce = atOnce});
        const auto outcome =
            check.run(entries, [&](std::size_t i, const CheckResult& result) { reported.emplace_back(i, result); });
        ASSERT_TRUE(outcome.ok) << outcome.error;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(rows[i].entry);
            EXPECT_EQ(outcome.results[i].verdict, rows[i].verdict);
            EXPECT_STREQ(anonymityText(outcome.results[i].anonymity), anonymityText(rows[i].anonymity));
            EXPECT_STREQ(tunnelText(outcome.results[i].tunnel), tunnelText(rows[i].tunnel));
        }
        // Once per entry, with the whole result.
        ASSERT_EQ(reported.size(), rows.size());
        for (const auto& [i, result] : reported) {
            EXPECT_EQ(result.anonymity, outcome.results[i].anonymity) << rows[i].entry;
            EXPECT_EQ(result.tunnel, outcome.results[i].tunnel) << rows[i].entry;
        }
        // The page first, then the judge and CONNECT to the tunnel host's port 443 (side by side, in either order);
        // the tunnel closed again by the check.
        auto lines = elite.requestLines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], "GET " + page.url + " HTTP/1.1");
        std::sort(lines.begin() + 1, lines.end());
        EXPECT_EQ(lines[1], "CONNECT 127.0.0.1:443 HTTP/1.1");
        EXPECT_EQ(lines[2], "GET " + page.judgeUrl + " HTTP/1.1");
        for (int waited = 0; waited < 100 && elite.tunnelsClosed() + anonymous.tunnelsClosed() < 2; ++waited)
            std::this_thread::sleep_for(20ms);
        EXPECT_EQ(elite.tunnelsClosed(), 1);
        EXPECT_EQ(anonymous.tunnelsClosed(), 1);
    }
}

TEST_F(GradedCheckTest, WithoutAnOwnAddressTheCheckRunsUngraded) {
    TestProxy elite(Mode::Elite), refusing(Mode::Refusing);
    // No judge there, or a page that is none: the check goes on, only the tunnel is graded.
    for (const std::string& judge : {"http://" + refusing.entry() + "/Tamberly/judge.php", page.url}) {
        TestPage ungraded = page;
        ungraded.judgeUrl = judge;
        ProxyCheck check(ungraded, {.timeLimit = 2000ms});
        const auto outcome = check.run({elite.entry()});
        ASSERT_TRUE(outcome.ok) << outcome.error;
        EXPECT_EQ(outcome.results[0].verdict, Verdict::Works) << judge;
        EXPECT_EQ(outcome.results[0].anonymity, Anonymity::Unknown) << judge;
        EXPECT_EQ(outcome.results[0].tunnel, Tunnel::Yes) << judge;
    }
    // Neither asked for: one request through the proxy, as before grades.
    const int before = elite.requests();
    ProxyCheck check(TestPage{page.url, page.expect});
    const auto outcome = check.run({elite.entry()});
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.results[0].anonymity, Anonymity::Unknown);
    EXPECT_EQ(outcome.results[0].tunnel, Tunnel::Unknown);
    EXPECT_EQ(elite.requests(), before + 1);
}
#endif

TEST(CheckEntryParser, TakesHostPortAndRefusesTheRest) {
    struct Case {
        const char* entry;
        bool ok;
        const char* url;
    };
    for (const Case& c : std::vector<Case>{
             {"10.0.0.1:80", true, "http://10.0.0.1:80"},
             {"Proxy.Example.org:3128", true, "http://proxy.example.org:3128"},
             {"\r\n10.0.0.1:8080 ", true, "http://10.0.0.1:8080"},
             {"http://10.0.0.1:80", true, "http://10.0.0.1:80"},
             {"SOCKS5://10.0.0.1:1080", true, "socks5h://10.0.0.1:1080"},
             {"[2001:db8::1]:8080", true, "http://[2001:db8::1]:8080"},
             {"[::ffff:10.0.0.1]:80", true, "http://10.0.0.1:80"},
             {"010.0.0.1:80", false, ""},
             {"[::1]:80", true, "http://[::1]:80"},
             {"10.0.0.1", false, ""},
             {"10.0.0.1:", false, ""},
             {"10.0.0.1:0", false, ""},
             {"10.0.0.1:65536", false, ""},
             {"10.0.0.1:80/", false, ""},
             {"10.1:80", false, ""},
             {"300.0.0.1:80", false, ""},
             {"user:pw@10.0.0.1:80", false, ""},
             {"-bad.example:80", false, ""},
             {"a b:80", false, ""},
             {"2001:db8::1:80", false, ""},
             {"[2001:db8::1%eth0]:80", false, ""},
             {"[1:2:3:4:5:6:7:8:9]:80", false, ""},
             {"https://10.0.0.1:443", false, ""},
             {"socks4://10.0.0.1:1080", false, ""},
             {"", false, ""},
         }) {
        const auto target = parseCheckEntry(c.entry);
        EXPECT_EQ(target.has_value(), c.ok) << c.entry;
        if (target && c.ok) {
            EXPECT_EQ(proxyUrl(*target), c.url);
        }
    }
}

} // namespace
} // namespace tamberly::test
