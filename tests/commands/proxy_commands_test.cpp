// The commands that put a proxy of the list in force or turn it off, then maybe start the browser, and the ones that
// show or edit the proxy in force.
#include "commands_fixture.h"

#include "platform/clock_random_source.h"

#include <gmock/gmock.h>

#include <set>

namespace tamberly::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Log = std::vector<std::string>;

Log useProxy(const std::string& entry, const std::string& normal) {
    return {"apply manual " + normal, "status Proxy changed to : " + entry};
}
Log useProxy(const std::string& entry) {
    return useProxy(entry, entry);
}
Log launched() {
    return {std::string("launch ") + kBrowser};
}
const Log switchedOff = {"apply off", "status Proxy desactivated"};
Log operator+(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct ProxyCommandsTest : CommandsTest {};

TEST_F(ProxyCommandsTest, EachCommandChangesTheProxyOnceThenStartsTheBrowser) {
    const std::vector<std::string> three = {"10.0.0.1:80", "10.0.0.2:8080", "Proxy.Example:3128"};
    const struct {
        const char* name;
        Command command;
        std::vector<std::string> rows;
        std::optional<int> selected;
        std::deque<double> draws;
        Log expected;
    } cases[] = {
        {"use and launch, nothing selected",
         Command::UseSelectedAndLaunch,
         three,
         {},
         {},
         useProxy(three[0]) + launched()},
        {"use and launch, entry 2 selected",
         Command::UseSelectedAndLaunch,
         three,
         2,
         {},
         useProxy(three[2], "proxy.example:3128") + launched()},
        {"use this proxy, entry 1 selected", Command::UseSelected, three, 1, {}, useProxy(three[1])},
        {"use the per-protocol form",
         Command::UseSelected,
         {"http=a.example:1;https=b.example:2"},
         0,
         {},
         useProxy("http=a.example:1;https=b.example:2")},
        {"random, one entry",
         Command::UseRandomAndLaunch,
         {"only.example:1"},
         {},
         {0.999},
         useProxy("only.example:1") + launched()},
        {"random, low draw", Command::UseRandomAndLaunch, three, 1, {0.0}, useProxy(three[0]) + launched()},
        {"random, middle draw", Command::UseRandomAndLaunch, three, {}, {0.5}, useProxy(three[1]) + launched()},
        {"random, just below 1/3", Command::UseRandomAndLaunch, three, {}, {0.3333}, useProxy(three[0]) + launched()},
        {"random, highest draw",
         Command::UseRandomAndLaunch,
         three,
         {},
         {0.99999},
         useProxy(three[2], "proxy.example:3128") + launched()},
        {"random, draw of 1 kept in range",
         Command::UseRandomAndLaunch,
         three,
         {},
         {1.0},
         useProxy(three[2], "proxy.example:3128") + launched()},
        {"random, negative draw kept in range",
         Command::UseRandomAndLaunch,
         three,
         {},
         {-0.5},
         useProxy(three[0]) + launched()},
        {"no proxy", Command::TurnProxyOff, three, 0, {}, switchedOff},
        {"no proxy and launch", Command::TurnProxyOffAndLaunch, three, 0, {}, switchedOff + launched()},
    };
    for (const auto& c : cases) {
        log.clear();
        view.status = "before";
        showRows(c.rows, c.selected);
        platform.random_.draws = c.draws;
        run(c.command);
        EXPECT_EQ(log, c.expected) << c.name;
        EXPECT_EQ(view.rows, c.rows) << c.name << ": the list is never changed";
        EXPECT_EQ(view.selected, c.selected) << c.name << ": nor its selection";
    }
}

// Only a proxy address is ever put in force: an empty list, no selection or a row that is not host:port changes
// nothing, starts nothing, sends nothing and says why. "Report dead proxy" needs an entry too.
TEST_F(ProxyCommandsTest, NothingButAProxyAddressIsPutInForce) {
    const std::string emptyList = "The list is empty: fetch it first with Download List in the Proxy menu.";
    const struct {
        Command command;
        std::vector<std::string> rows;
        std::optional<int> selected;
        std::string status;
    } cases[] = {
        {Command::UseSelectedAndLaunch, {}, {}, emptyList},
        {Command::UseRandomAndLaunch, {}, {}, emptyList},
        {Command::UseSelected, {}, {}, emptyList},
        {Command::ReportDeadProxy, {}, {}, emptyList},
        {Command::UseSelected, {"a.example:1"}, {}, "Please select the proxy on the list first"},
        {Command::UseSelectedAndLaunch, {"", "a.example:1"}, {}, "Row 1 of the list is empty: nothing was changed."},
        {Command::UseSelected, {"a.example:1", ""}, 1, "Row 2 of the list is empty: nothing was changed."},
        {Command::ReportDeadProxy, {"a.example:1", ""}, 1, "Row 2 of the list is empty: nothing was reported."},
        {Command::UseSelectedAndLaunch,
         {"bare-host"},
         0,
         "\"bare-host\" is not a proxy address (proxy entry must be host:port): nothing was changed."},
        {Command::UseRandomAndLaunch,
         {"text with blanks:80"},
         {},
         "\"text with blanks:80\" is not a proxy address (proxy entry holds a blank, a control character or a "
         "character outside ASCII): nothing was changed."},
        {Command::UseSelected,
         {"host.example:80800"},
         0,
         "\"host.example:80800\" is not a proxy address (port must be a number from 1 to 65535): nothing was "
         "changed."},
    };
    const std::string prefsBefore = readFile(prefs);
    for (const auto& c : cases) {
        log.clear();
        showRows(c.rows, c.selected);
        run(c.command);
        EXPECT_EQ(log, Log{"status " + c.status}) << c.status;
    }
    EXPECT_THAT(platform.proxy.applied, IsEmpty());
    EXPECT_THAT(platform.launcher_.launches, IsEmpty());
    EXPECT_THAT(platform.transfer_.urls, IsEmpty());
    EXPECT_THAT(view.questions, IsEmpty());
    EXPECT_EQ(readFile(prefs), prefsBefore);
}

TEST_F(ProxyCommandsTest, EveryClickRunsTheWholeCommandAgain) {
    showRows({"a.example:1", "b.example:2", "c.example:3"}, 2);
    run(Command::UseSelectedAndLaunch);
    run(Command::UseSelectedAndLaunch);
    EXPECT_EQ(log, useProxy("c.example:3") + launched() + useProxy("c.example:3") + launched());
}

TEST_F(ProxyCommandsTest, WithoutABrowserPathTheProxyStillChangesBeforeTheMessage) {
    editSetting("Path", "IE", "");
    showRows({"a.example:1"});
    run(Command::UseSelectedAndLaunch);
    run(Command::UseRandomAndLaunch);
    run(Command::TurnProxyOffAndLaunch);
    const Log message = {"tell Cannot find internet explorer"};
    EXPECT_EQ(log, useProxy("a.example:1") + message + useProxy("a.example:1") + message + switchedOff + message);
    EXPECT_EQ(view.status, "Proxy desactivated");
    EXPECT_THAT(platform.launcher_.launches, IsEmpty());
}

TEST_F(ProxyCommandsTest, RandomProxyReseedsAtEachUseAndPicksEveryEntryAndNoOther) {
    ClockRandomSource clock;
    struct ClockPlatform final : Platform {
        FakePlatform& fakes;
        RandomSource& random_;
        ClockPlatform(FakePlatform& f, RandomSource& r) : fakes(f), random_(r) {}
        SystemProxy& systemProxy() override { return fakes.proxy; }
        Launcher& launcher() override { return fakes.launcher_; }
        HttpTransfer& transfer() override { return fakes.transfer_; }
        RandomSource& random() override { return random_; }
        SessionStart& sessionStart() override { return fakes.sessionStart_; }
        std::string cacheFolder() override { return fakes.cache; }
    } withClock(platform, clock);
    Commands clockCommands(view, withClock, settings);
    showRows({"a.example:1", "b.example:2", "c.example:3", "d.example:4", "e.example:5"});
    std::set<std::string> used;
    for (int i = 0; i < 2000; ++i) {
        clockCommands.run(Command::UseRandomAndLaunch);
        used.insert(formatProxyServers(*platform.proxy.setting.servers));
    }
    EXPECT_EQ(used, (std::set<std::string>{"a.example:1", "b.example:2", "c.example:3", "d.example:4", "e.example:5"}));
    EXPECT_EQ(platform.launcher_.launches.size(), 2000u);

    run(Command::UseRandomAndLaunch);
    run(Command::UseRandomAndLaunch);
    EXPECT_EQ(platform.random_.reseeds, 2);
}

TEST_F(ProxyCommandsTest, AFailedChangeIsToldOnceAndNothingIsStarted) {
    platform.proxy.recordFailure = "The proxy setting could not be changed: cannot write registry.reg: Read-only file "
                                   "system";
    showRows({"a.example:1"});
    view.status = "before";
    run(Command::UseSelectedAndLaunch);
    run(Command::UseRandomAndLaunch);
    run(Command::TurnProxyOffAndLaunch);
    run(Command::TurnProxyOff);
    EXPECT_THAT(platform.launcher_.launches, IsEmpty());
    EXPECT_EQ(view.status, "before");
    ASSERT_EQ(view.messages.size(), 4u);
    EXPECT_EQ(view.messages[0].text, platform.proxy.recordFailure);
    EXPECT_EQ(view.messages[0].title, "") << "the application's title";
}

// The change is in force all the same: a desktop setting that could not follow is named after the command's own text,
// and the browser starts.
TEST_F(ProxyCommandsTest, ADesktopThatCouldNotFollowIsNamedAfterTheCommandsText) {
    platform.proxy.desktopProblem = "The GNOME proxy setting (org.gnome.system.proxy) could not be changed: the key is "
                                    "locked.";
    showRows({"a.example:1"});
    run(Command::UseSelectedAndLaunch);
    EXPECT_EQ(log, useProxy("a.example:1") + Log{"status " + platform.proxy.desktopProblem} + launched());
    log.clear();
    run(Command::TurnProxyOff);
    EXPECT_EQ(log, switchedOff + Log{"status " + platform.proxy.desktopProblem});
}

TEST_F(ProxyCommandsTest, TheStartedBrowserGetsTheProxyItWasStartedFor) {
    showRows({"a.example:1"});
    run(Command::UseSelectedAndLaunch);
    run(Command::TurnProxyOffAndLaunch);
    run(Command::LaunchBrowser); // the proxy in force: off
    platform.proxy.setting.mode = ProxyMode::Manual;
    run(Command::LaunchBrowser); // on again, changed by the desktop's own settings
    platform.proxy.readFailure = "the session bus does not answer";
    run(Command::LaunchBrowser); // unknown: the environment stays as inherited

    const auto& launches = platform.launcher_.launches;
    ASSERT_EQ(launches.size(), 5u);
    const EnvironmentChange on = proxyEnvironment(ProxySetting::manual(*parseProxyServers("a.example:1").servers));
    const EnvironmentChange off = proxyEnvironment(ProxySetting::off());
    EXPECT_EQ(launches[0].environment, on);
    EXPECT_EQ(launches[1].environment, off);
    EXPECT_EQ(launches[2].environment, off);
    EXPECT_EQ(launches[3].environment, on);
    EXPECT_EQ(launches[4].environment, EnvironmentChange{});
    for (const auto& launch : launches) {
        EXPECT_EQ(launch.program, kBrowser);
        EXPECT_THAT(launch.arguments, IsEmpty());
    }
}

// The status line after each command, from each setting the system may hold: it says what is in force, and "Show
// current proxy" run next says the same.
TEST_F(ProxyCommandsTest, TheStatusLineTellsTheTruthAfterEachCommandFromEachSetting) {
    const auto servers = [](const std::string& text) { return *parseProxyServers(text).servers; };
    const struct {
        const char* name;
        ProxySetting setting;
        std::string shown; // by "Show current proxy"
    } settings[] = {
        {"manual", {ProxyMode::Manual, servers("10.0.0.1:80"), {}, {}}, "Current proxy : 10.0.0.1:80"},
        {"manual per protocol",
         {ProxyMode::Manual, servers("http=a.example:1;https=[::1]:8080"), {}, {}},
         "Current proxy : http=a.example:1;https=[::1]:8080"},
        {"none", {ProxyMode::Off, servers("10.0.0.1:80"), {}, {}}, "Proxy desactivated"},
        {"automatic with a script",
         {ProxyMode::Automatic, ProxyServers{}, {}, "http://wpad.example/proxy.pac"},
         "Automatic proxy configuration: http://wpad.example/proxy.pac"},
        {"automatic by detection",
         {ProxyMode::Automatic, servers("10.0.0.1:80"), {}, {}},
         "Automatic proxy configuration: detection"},
        {"manual with no server", {ProxyMode::Manual, ProxyServers{}, {}, {}}, "Manual proxy with no server set"},
    };
    const std::string on = "Proxy changed to : b.example:2";
    const struct {
        Command command;
        std::string status; // empty: the setting's own text
        std::string shownAfter;
    } commands[] = {
        {Command::ShowCurrentProxy, {}, {}},
        {Command::UseSelected, on, "Current proxy : b.example:2"},
        {Command::UseSelectedAndLaunch, on, "Current proxy : b.example:2"},
        {Command::UseRandomAndLaunch, on, "Current proxy : b.example:2"},
        {Command::TurnProxyOff, "Proxy desactivated", "Proxy desactivated"},
        {Command::TurnProxyOffAndLaunch, "Proxy desactivated", "Proxy desactivated"},
        {Command::LaunchBrowser, "before", {}},
    };
    showRows({"b.example:2"}, 0);
    for (const auto& s : settings) {
        for (const auto& c : commands) {
            SCOPED_TRACE(std::string(s.name) + ", command " + std::to_string(static_cast<int>(c.command)));
            platform.proxy.setting = s.setting;
            view.status = "before";
            run(c.command);
            EXPECT_EQ(view.status, c.status.empty() ? s.shown : c.status);
            run(Command::ShowCurrentProxy);
            EXPECT_EQ(view.status, c.shownAfter.empty() ? s.shown : c.shownAfter);
        }
    }
    EXPECT_THAT(view.messages, IsEmpty());

    platform.proxy.readFailure = "cannot read registry.reg: Permission denied";
    run(Command::ShowCurrentProxy);
    EXPECT_EQ(view.status, "Cannot read the proxy setting: cannot read registry.reg: Permission denied");
    EXPECT_THAT(view.messages, IsEmpty());
}

// "Use this proxy", then "No proxy" from the menu or the pop-up: the status line no longer names the proxy.
TEST_F(ProxyCommandsTest, NoProxyAfterUseThisProxyIsWhatTheStatusLineSays) {
    showRows({"127.0.0.1:3128"}, 0);
    for (const Command off : {Command::TurnProxyOff, Command::TurnProxyOffAndLaunch}) {
        run(Command::UseSelected);
        EXPECT_EQ(view.status, "Proxy changed to : 127.0.0.1:3128");
        run(off);
        EXPECT_EQ(view.status, "Proxy desactivated");
        EXPECT_EQ(platform.proxy.setting.mode, ProxyMode::Off);
    }
    run(Command::UseSelected);
    run(Command::ShowCurrentProxy);
    EXPECT_EQ(view.status, "Current proxy : 127.0.0.1:3128");
}

TEST_F(ProxyCommandsTest, ProxySettingsOpenTheSystemsPageElseTheProgramsOwnWindow) {
    run(Command::ShowProxySettings);
    run(Command::ShowProxySettings);
    EXPECT_EQ(platform.proxy.pagesOpened, 2);
    EXPECT_FALSE(view.editor);

    platform.proxy.hasSettingsPage = false;
    platform.proxy.setting = ProxySetting::manual(*parseProxyServers("a.example:1").servers);
    run(Command::ShowProxySettings);
    ASSERT_TRUE(view.editor);
    EXPECT_EQ(view.editor->server, "a.example:1");
    EXPECT_TRUE(view.editor->on);
    EXPECT_EQ(view.editor->places, platform.proxy.placeNames);

    const auto save = view.editor->save;
    EXPECT_EQ(save("bare-host", true), "\"bare-host\" is not a proxy address (proxy entry must be host:port).");
    EXPECT_EQ(save("", true), "Enter a proxy server (host:port) to use one.");
    EXPECT_THAT(platform.proxy.applied, IsEmpty()) << "nothing is written for what cannot be saved";
    EXPECT_EQ(save(" b.example:2 ", true), "");
    EXPECT_EQ(save("c.example:3", false), "");
    EXPECT_EQ(save("", false), "");
    EXPECT_THAT(log, ::testing::IsSupersetOf({"apply manual b.example:2", "apply off c.example:3", "apply off "}));

    platform.proxy.recordFailure = "The proxy setting could not be changed: cannot write registry.reg";
    EXPECT_EQ(save("d.example:4", true), platform.proxy.recordFailure) << "the window stays open and says why";

    platform.proxy.readFailure = "cannot read registry.reg";
    view.editor.reset();
    run(Command::ShowProxySettings);
    EXPECT_FALSE(view.editor) << "blank fields would let OK wipe settings that were merely unreadable";
    EXPECT_EQ(view.messages.back().text, "The proxy settings could not be read: cannot read registry.reg");
}

} // namespace
} // namespace tamberly::test
