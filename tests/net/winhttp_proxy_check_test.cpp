// The proxy check's WinHTTP engine under Wine, against a test page, a judge and proxies of the test's own, all on
// 127.0.0.1.
#include "net/proxy_check.h"

#include "support/winsock_servers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace tamberly::test {
namespace {

using namespace std::chrono_literals;
using Mode = WinTestProxy::Mode;

constexpr const char* kBody = "tamberly-check-ok";

TestPage testPage(std::string url, std::string expect) {
    TestPage page;
    page.url = std::move(url);
    page.expect = std::move(expect);
    return page;
}

struct WinHttpProxyCheckTest : ::testing::Test {
    PageServer target{{
        {"/Tamberly/check.php", [] { return httpAnswer(kBody); }},
        {"/big", [] { return httpAnswer(std::string(64 * 1024, 'x')); }},
        {"/portal", [] { return httpAnswer("<html>Sign in to the hotel network</html>"); }},
    }};
    TestPage checkPage() const { return testPage(target.url("/Tamberly/check.php"), kBody); }
};

TEST_F(WinHttpProxyCheckTest, GivesEachVerdictInTheEntriesOrder) {
    WinTestProxy working(Mode::Elite), slow(Mode::Slow, 400ms), silent(Mode::Silent), login(Mode::AskLogin),
        portal(Mode::OwnPage), refusing(Mode::Refusing), closing(Mode::CloseAtOnce), badStatus(Mode::BadStatus),
        flood(Mode::HeaderFlood), endless(Mode::EndlessHeaders);
    const struct {
        std::string entry;
        Verdict verdict;
    } rows[] = {
        {silent.entry(), Verdict::TimedOut},
        {working.entry(), Verdict::Works},
        {"not a proxy", Verdict::BadEntry},
        {refusing.entry(), Verdict::Refused},
        {login.entry(), Verdict::NeedsPassword},
        {portal.entry(), Verdict::WrongAnswer},
        {"http://" + slow.entry(), Verdict::Works},
        {"socks5://" + working.entry(), Verdict::NotCheckedHere},
        {"", Verdict::BadEntry},
        {closing.entry(), Verdict::Refused},
        {badStatus.entry(), Verdict::WrongAnswer},
        // WinHTTP hands on no part of a head before its end: under Wine a head that never ends runs out of time.
        {flood.entry(), Verdict::TimedOut},
        {endless.entry(), Verdict::TimedOut},
        {" " + working.entry() + "\r\n", Verdict::Works}, // the same proxy again: checked once
    };
    std::vector<std::string> entries;
    for (const auto& row : rows)
        entries.push_back(row.entry);
    ProxyCheck check(checkPage(), {.timeLimit = 2000ms, .atOnce = 3});
    std::vector<std::size_t> reported;
    const auto outcome = check.run(entries, [&](std::size_t i, const CheckResult&) { reported.push_back(i); });

    ASSERT_TRUE(outcome.ok) << outcome.error;
    ASSERT_EQ(outcome.results.size(), entries.size());
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(verdictText(outcome.results[i].verdict), std::string(verdictText(rows[i].verdict))) << rows[i].entry;
    EXPECT_STREQ(verdictText(Verdict::NotCheckedHere), "not checked here");

    // The slow proxy's answer came after its delay, within the limit; the silent one cost the limit, no more.
    EXPECT_GE(outcome.results[6].totalMs, 400);
    EXPECT_GE(outcome.results[1].connectMs, 0);
    EXPECT_LE(outcome.results[1].connectMs, outcome.results[1].totalMs);
    EXPECT_GE(outcome.results[0].totalMs, 1900);
    EXPECT_EQ(outcome.results[2].totalMs, -1); // nothing sent for a bad entry
    EXPECT_EQ(outcome.results[7].totalMs, -1); // nor for a SOCKS one

    // Each entry reported once; one request to each proxy; the page saw the direct GET and the two forwarded.
    EXPECT_EQ(reported.size(), entries.size());
    EXPECT_EQ(working.requestLines(), std::vector<std::string>{"GET " + checkPage().url + " HTTP/1.1"});
    for (const WinTestProxy* proxy : {&slow, &login, &portal})
        EXPECT_EQ(proxy->requests(), 1);
    EXPECT_EQ(target.requests(), 3);
}

TEST_F(WinHttpProxyCheckTest, ATestUrlThatDoesNotAnswerRightStopsTheCheckBeforeAnyProxy) {
    WinTestProxy working(Mode::Elite);
    const struct {
        TestPage page;
        std::string error;
    } cases[] = {
        {testPage(target.url("/portal"), kBody), "the test URL did not answer as a check page"},
        {testPage(target.url("/missing"), ""), "the test URL " + target.url("/missing") + " answers 404"},
        {testPage(target.url("/big"), ""), "the test URL " + target.url("/big") + " answers with more than 4096 bytes"},
        {testPage("ftp://127.0.0.1/x", ""), "the test URL ftp://127.0.0.1/x is not a URL this check can fetch"},
    };
    for (const auto& c : cases) {
        ProxyCheck check(c.page, {.timeLimit = 2000ms});
        const auto outcome = check.run({working.entry()});
        EXPECT_FALSE(outcome.ok) << c.page.url;
        EXPECT_FALSE(outcome.cancelled);
        EXPECT_EQ(outcome.error, c.error);
    }
    EXPECT_EQ(working.requests(), 0);

    // With no text expected, a proxy must pass on the very body the page gave directly.
    ProxyCheck own(testPage(target.url("/portal"), ""), {.timeLimit = 2000ms});
    WinTestProxy portal(Mode::OwnPage);
    const auto outcome = own.run({working.entry(), portal.entry()});
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.results[0].verdict, Verdict::Works);
    EXPECT_EQ(outcome.results[1].verdict, Verdict::WrongAnswer);
}

TEST_F(WinHttpProxyCheckTest, GradesEachWorkingProxyByWhatTheJudgeSawAndItsTunnel) {
    WinTestProxy elite(Mode::Elite), anonymous(Mode::Anonymous), transparent(Mode::Transparent),
        noTunnel(Mode::TunnelRefused), login(Mode::AskLogin);
    TestPage page = checkPage();
    page.judgeUrl = target.url("/judge");
    page.tunnelHost = "127.0.0.1";
    ProxyCheck check(page, {.timeLimit = 3000ms});
    const auto outcome = check.run({elite.entry(), anonymous.entry(), transparent.entry(), noTunnel.entry(),
                                    login.entry(), "socks5://" + elite.entry()});
    ASSERT_TRUE(outcome.ok) << outcome.error;
    // The proxies' tunnels open to a far end that speaks no TLS: WinHTTP's TLS fails there, as Wine's fails over a
    // tunnel refused with an answer, so those stay unknown. A proxy that hangs up on CONNECT has no tunnel.
    const struct {
        Anonymity anonymity;
        Tunnel tunnel;
    } expected[] = {
        {Anonymity::Elite, Tunnel::Unknown},       {Anonymity::Anonymous, Tunnel::Unknown},
        {Anonymity::Transparent, Tunnel::Unknown}, {Anonymity::Elite, Tunnel::No},
        {Anonymity::Unknown, Tunnel::Unknown}, // not working: not graded
        {Anonymity::Unknown, Tunnel::Unknown},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_STREQ(anonymityText(outcome.results[i].anonymity), anonymityText(expected[i].anonymity)) << i;
        EXPECT_STREQ(tunnelText(outcome.results[i].tunnel), tunnelText(expected[i].tunnel)) << i;
    }
    // The page through each, the judge through each working one, and a tunnel asked of each working one.
    for (const WinTestProxy* proxy : {&elite, &anonymous, &transparent, &noTunnel})
        EXPECT_EQ(proxy->requests(), 3);
    EXPECT_EQ(login.requests(), 1);
}

TEST_F(WinHttpProxyCheckTest, CancelEndsARunningCheckAtOnceFromAnotherThread) {
    std::vector<std::unique_ptr<WinTestProxy>> silent;
    std::vector<std::string> entries;
    for (int i = 0; i < 6; ++i) {
        silent.push_back(std::make_unique<WinTestProxy>(Mode::Silent));
        entries.push_back(silent.back()->entry());
    }
    ProxyCheck check(checkPage(), {.timeLimit = 20000ms, .atOnce = 4});
    std::thread canceller([&] {
        std::this_thread::sleep_for(500ms);
        check.cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = check.run(entries);
    const auto took = std::chrono::steady_clock::now() - start;
    canceller.join();
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_LT(took, 10s) << "cancel waited for the transfers";

    // A cancelled check stays cancelled: its next run returns at once.
    EXPECT_TRUE(check.run(entries).cancelled);
}

} // namespace
} // namespace tamberly::test
