// "Keep me on a working proxy" over a clock, a timer and a probe in memory: when it probes, what counts as a failure,
// which entry it switches to and when it leaves the setting alone.

#include "commands/check_results.h"
#include "commands/proxy_commands.h"
#include "commands/proxy_watch.h"
#include "commands_fixture.h"
#include "core/proxy_list_store.h"

#include <gmock/gmock.h>

using namespace std::chrono_literals;
using testing::Contains;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

namespace tamberly::test {
namespace {

class WatchTest : public CommandsTest {
protected:
    WatchTest() {
        editSetting("Watch", "Enabled", "1");
        settings.reload();
    }

    /// The stored list, the last check's results and the proxy in force, then start-up.
    void startWith(const std::string& inForce, std::vector<KeptResult> kept = {}) {
        ProxyListStore(settings).save("a:1*b:2*c:3*d:4*");
        CheckResults(platform.cache + "/check-results.txt").replace(std::move(kept));
        platform.proxy.setting = ProxySetting::manual(*parseProxyServers(inForce).servers);
        commands.startUp();
    }
    std::string inForce() const {
        return platform.proxy.setting.mode == ProxyMode::Manual ? formatProxyServers(*platform.proxy.setting.servers)
                                                                : "off";
    }
    /// b and c worked in the last check, c the faster; d did not.
    static std::vector<KeptResult> lastCheck() {
        return {{"b:2", true, 200, Anonymity::Anonymous, Tunnel::Unknown, "200 ms", 1},
                {"c:3", true, 100, Anonymity::Elite, Tunnel::Unknown, "100 ms", 1},
                {"d:4", false, -1, Anonymity::Unknown, Tunnel::Unknown, "refused", 1}};
    }
};

TEST_F(WatchTest, ProbesAtStartUpThenOncePerIntervalAndNothingElse) {
    editSetting("Watch", "Interval", "5"); // below the least: 15 s
    settings.reload();
    probe.through["a:1"] = works(40);
    startWith("a:1");
    ASSERT_THAT(probe.asked, ElementsAre(std::vector<std::string>{"a:1"})) << "the start-up probe";
    EXPECT_EQ(probe.limits.front(), 5s);
    probe.settle();
    EXPECT_EQ(view.watchTip, "Tamberly: a:1 (40 ms)");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(timer.fire());
        probe.settle();
    }
    EXPECT_THAT(timer.delays, ElementsAre(15s, 15s, 15s, 15s)) << "one timer per interval, no other wake-up";
    EXPECT_EQ(probe.asked.size(), 4u);
    EXPECT_THAT(platform.proxy.applied, IsEmpty());
}

TEST_F(WatchTest, OneRefusalOrTwoTimeOutsInARowSwitchToTheFastestThatWorks) {
    struct Case {
        const char* name;
        std::vector<ProbeResult> answers; // the proxy in force's answers, one probe each
        bool switches;
        std::size_t probes; // of the proxy in force
    };
    const Case cases[] = {
        {"refused once", {{ProbeResult::Verdict::Refused, 1, {}}}, true, 1},
        {"any other failure", {{ProbeResult::Verdict::Failed, 1, {}}}, true, 1},
        {"timed out once", {timesOut(), works(30)}, false, 2},
        {"timed out twice", {timesOut(), timesOut()}, true, 2},
        {"answers", {works(30)}, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWatchTimer clock;
        FakeProbe eyes;
        FakeView window;
        Commands watched(window, platform, settings, {}, {&clock, &eyes});
        platform.proxy.applied.clear();
        ProxyListStore(settings).save("a:1*b:2*c:3*d:4*");
        CheckResults(platform.cache + "/check-results.txt").replace(lastCheck());
        platform.proxy.setting = ProxySetting::manual(*parseProxyServers("a:1").servers);
        eyes.through = {{"b:2", works(50)}, {"c:3", works(80)}, {"d:4", works(10)}};
        watched.startUp();
        for (const ProbeResult& answer : c.answers) {
            eyes.through["a:1"] = answer;
            ASSERT_TRUE(eyes.answer());
        }
        eyes.settle();
        std::size_t ofA = 0;
        for (const auto& asked : eyes.asked)
            ofA += asked == std::vector<std::string>{"a:1"};
        EXPECT_EQ(ofA, c.probes);
        if (c.switches) {
            // The ones that worked in the last check first, fastest first; the fastest now wins.
            EXPECT_THAT(eyes.asked.back(), ElementsAre("c:3", "b:2"));
            EXPECT_EQ(FakeSystemProxy::describe(platform.proxy.applied.back()), "manual b:2");
            EXPECT_EQ(window.status, "a:1 stopped answering; now using b:2 (50 ms)");
            EXPECT_THAT(window.notifications, ElementsAre(window.status));
            EXPECT_EQ(window.watchTip, "Tamberly: b:2 (50 ms)");
        } else {
            EXPECT_THAT(platform.proxy.applied, IsEmpty());
            EXPECT_TRUE(clock.due.has_value()) << "the next probe is armed";
        }
        watched.abandonCheck();
    }
}

TEST_F(WatchTest, TheRestOfTheListIsAskedWhenNoneThatWorkedBeforeWorksNow) {
    probe.through = {{"a:1", {ProbeResult::Verdict::Refused, 1, {}}}, {"d:4", works(90)}};
    startWith("a:1", lastCheck());
    probe.settle();
    ASSERT_GE(probe.asked.size(), 3u);
    EXPECT_THAT(probe.asked[1], ElementsAre("c:3", "b:2"));
    EXPECT_THAT(probe.asked[2], ElementsAre("d:4")) << "the failed proxy and the ones asked already are left out";
    EXPECT_EQ(inForce(), "d:4");
}

TEST_F(WatchTest, KeepAnonymityTakesNoLessAnonymousProxy) {
    editSetting("Watch", "KeepAnonymity", "1");
    settings.reload();
    std::vector<KeptResult> kept = lastCheck();
    kept.push_back({"a:1", true, 300, Anonymity::Elite, Tunnel::Unknown, "300 ms", 1});
    probe.through = {{"a:1", {ProbeResult::Verdict::Refused, 1, {}}}, {"b:2", works(20)}, {"c:3", works(80)}};
    startWith("a:1", kept);
    probe.settle();
    EXPECT_EQ(inForce(), "c:3") << "b:2 is faster, but only anonymous";
}

TEST_F(WatchTest, NoFlappingAFailedProxyRestsTenMinutesAndAFasterOneIsNoReason) {
    probe.through = {{"a:1", works(400)}, {"b:2", works(50)}, {"c:3", works(80)}};
    startWith("a:1", lastCheck());
    probe.settle();
    ASSERT_TRUE(timer.fire());
    probe.settle();
    EXPECT_THAT(platform.proxy.applied, IsEmpty()) << "faster entries are no reason to switch";

    probe.through["a:1"] = {ProbeResult::Verdict::Refused, 1, {}};
    ASSERT_TRUE(timer.fire());
    probe.settle();
    ASSERT_EQ(inForce(), "b:2");

    // b fails soon after, while a answers again: a is still resting.
    probe.through["a:1"] = works(5);
    probe.through["b:2"] = {ProbeResult::Verdict::Refused, 1, {}};
    ASSERT_TRUE(timer.fire());
    probe.settle();
    EXPECT_EQ(inForce(), "c:3");
    for (const auto& asked : std::vector(probe.asked.end() - 3, probe.asked.end()))
        EXPECT_THAT(asked, Not(Contains("a:1")));

    // Ten minutes on, a may be chosen again.
    timer.clock += 10min;
    probe.through["c:3"] = {ProbeResult::Verdict::Refused, 1, {}};
    ASSERT_TRUE(timer.fire());
    probe.settle();
    EXPECT_EQ(inForce(), "a:1");
}

TEST_F(WatchTest, WhenNothingWorksItSaysSoOnceAndSearchesAgainWithBackOff) {
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "Direct=1" : "Direct=0");
        FakeWatchTimer clock;
        FakeProbe eyes;
        FakeView window;
        editSetting("Watch", "Direct", direct ? "1" : "0");
        settings.reload();
        Commands watched(window, platform, settings, {}, {&clock, &eyes});
        ProxyListStore(settings).save("a:1*b:2*c:3*d:4*");
        platform.proxy.setting = ProxySetting::manual(*parseProxyServers("a:1").servers);
        watched.startUp();
        eyes.settle(); // every entry refuses
        for (int i = 0; i < 6; ++i) {
            ASSERT_TRUE(clock.fire());
            eyes.settle();
        }
        const std::vector<std::chrono::milliseconds> backOff = {1min, 2min, 4min, 8min, 15min, 15min, 15min};
        EXPECT_EQ(clock.delays, backOff);
        EXPECT_EQ(window.notifications.size(), 1u) << "said once";
        EXPECT_THAT(window.status, HasSubstr("no other proxy of the list works"));
        EXPECT_EQ(inForce(), direct ? "off" : "a:1");

        // One comes back: watching goes on with it.
        eyes.through["b:2"] = works(70);
        ASSERT_TRUE(clock.fire());
        eyes.settle();
        EXPECT_EQ(inForce(), "b:2");
        EXPECT_EQ(clock.delays.back(), 60s);
        watched.abandonCheck();
    }
}

TEST_F(WatchTest, ADeadNetworkOrListServerIsNoReasonToSwitch) {
    struct Case {
        ProbeReport::Direct direct;
        const char* says;
    };
    for (const Case& c : {Case{ProbeReport::Direct::NetworkDown, "the network is down"},
                          Case{ProbeReport::Direct::ServerDown, "the list server does not answer"}}) {
        SCOPED_TRACE(c.says);
        probe.direct = c.direct;
        startWith("a:1", lastCheck());
        probe.settle();
        EXPECT_THAT(platform.proxy.applied, IsEmpty());
        EXPECT_THAT(view.status, HasSubstr(c.says));
        EXPECT_THAT(view.status, HasSubstr("no switch"));
        EXPECT_EQ(timer.delays.back(), ProxyWatch::kNetworkRetry);
    }
    // Back again: the proxy is asked, and it answers.
    probe.direct = ProbeReport::Direct::Answers;
    probe.through["a:1"] = works(10);
    ASSERT_TRUE(timer.fire());
    probe.settle();
    EXPECT_THAT(platform.proxy.applied, IsEmpty());
    EXPECT_EQ(timer.delays.back(), 60s);
}

TEST_F(WatchTest, AfterSleepItWaitsForTheNetworkThenProbes) {
    probe.through["a:1"] = works(10);
    startWith("a:1");
    probe.settle();
    probe.direct = ProbeReport::Direct::NetworkDown;
    ASSERT_TRUE(timer.fire(2h)); // the computer slept
    probe.settle();
    EXPECT_THAT(view.status, HasSubstr("waiting for the network since the computer woke"));
    EXPECT_THAT(platform.proxy.applied, IsEmpty());
    probe.direct = ProbeReport::Direct::Answers;
    probe.through["a:1"] = {ProbeResult::Verdict::Refused, 1, {}};
    probe.through["b:2"] = works(20);
    ASSERT_TRUE(timer.fire());
    probe.settle();
    EXPECT_EQ(inForce(), "b:2") << "once the network answers, the proxy's own failure counts";
}

TEST_F(WatchTest, ASettingChangedOutsideTamberlyPausesWatchingUntilItIsTamberlysAgain) {
    probe.through["a:1"] = works(10);
    startWith("a:1", lastCheck());
    probe.settle();
    platform.proxy.setting = ProxySetting::manual(*parseProxyServers("z:9").servers);
    const std::size_t probes = probe.asked.size();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(timer.fire());
    EXPECT_EQ(probe.asked.size(), probes) << "nothing is sent while the user's own setting is in force";
    EXPECT_THAT(view.statuses, Contains(HasSubstr("changed outside Tamberly")));
    EXPECT_EQ(std::count_if(view.statuses.begin(), view.statuses.end(),
                            [](const std::string& s) { return s.find("outside") != std::string::npos; }),
              1)
        << "said once";
    EXPECT_THAT(platform.proxy.applied, IsEmpty());

    platform.proxy.setting = ProxySetting::manual(*parseProxyServers("a:1").servers);
    ASSERT_TRUE(timer.fire());
    EXPECT_EQ(probe.asked.size(), probes + 1);
}

TEST_F(WatchTest, DownloadListPausesWatchingAndUsingAProxyResumesIt) {
    probe.through = {{"a:1", works(10)}, {"b:2", works(10)}};
    platform.transfer_.answer = [](const std::string&) { return TransferResult{true, "a:1*b:2*", {}}; };
    startWith("a:1");
    probe.settle();
    run(Command::DownloadList);
    EXPECT_EQ(inForce(), "off");
    EXPECT_FALSE(timer.due.has_value()) << "no timer while the proxy is off";
    EXPECT_FALSE(probe.pending());
    EXPECT_EQ(view.status, "List downloaded from server. Watching paused until a proxy is put in force.");

    const std::size_t probes = probe.asked.size();
    view.selected = 1;
    run(Command::UseSelected);
    ASSERT_EQ(probe.asked.size(), probes + 1) << "a probe right after a proxy is put in force";
    EXPECT_THAT(probe.asked.back(), ElementsAre("b:2"));
}

TEST_F(WatchTest, ReportsTheDeadProxyOnlyWhenAskedTo) {
    for (const bool report : {false, true}) {
        SCOPED_TRACE(report ? "Report=1" : "Report=0");
        editSetting("Watch", "Report", report ? "1" : "0");
        settings.reload();
        platform.transfer_.urls.clear();
        FakeWatchTimer clock;
        FakeProbe eyes;
        FakeView window;
        Commands watched(window, platform, settings, {}, {&clock, &eyes});
        ProxyListStore(settings).save("a:1*b:2*");
        platform.proxy.setting = ProxySetting::manual(*parseProxyServers("a:1").servers);
        eyes.through["b:2"] = works(5);
        watched.startUp();
        eyes.settle();
        EXPECT_THAT(window.questions, IsEmpty());
        if (report)
            EXPECT_THAT(platform.transfer_.urls, ElementsAre(HasSubstr("proxy=a:1")));
        else
            EXPECT_THAT(platform.transfer_.urls, IsEmpty());
        watched.abandonCheck();
    }
}

TEST_F(WatchTest, TheToggleIsRememberedAndWatchesWhatIsInForce) {
    editSetting("Watch", "Enabled", "0");
    settings.reload();
    probe.through["a:1"] = works(10);
    startWith("a:1");
    EXPECT_THAT(probe.asked, IsEmpty()) << "off by default";
    EXPECT_FALSE(commands.watching());
    run(Command::ToggleWatch);
    EXPECT_TRUE(commands.watching());
    EXPECT_EQ(Settings(prefs).value("Watch", "Enabled"), "1");
    EXPECT_THAT(probe.asked, ElementsAre(std::vector<std::string>{"a:1"}));
    probe.settle();
    run(Command::ToggleWatch);
    EXPECT_EQ(Settings(prefs).value("Watch", "Enabled"), "0");
    EXPECT_FALSE(timer.due.has_value());
    EXPECT_EQ(view.watchTip, "") << "the icon's own tip again";
}

} // namespace
} // namespace tamberly::test
