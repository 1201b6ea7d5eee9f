#include "proxy/selection_commands.h"

#include "platform/clock_random_source.h"
#include "proxy/browser_launch.h"
#include "proxy/system_proxy.h"
#include "storage/ini_file.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace tamberly {
namespace {

using test::FakeDialogs;
using test::FakeListBox;
using test::FakeRandom;
using test::FakeRegistry;
using test::FakeShell;
using test::FakeStatusLine;
using test::ScopedUserHome;

const std::string kServer = kProxyServerName;
const std::string kEnable = kProxyEnableName;
const std::string kBrowser = "/opt/browser/bin/browser";

using Log = std::vector<std::string>;

Log useProxy(const std::string& entry) {
    return {"write " + kServer + "=" + entry + " (REG_SZ)", "status Proxy changed to : " + entry,
            "write " + kEnable + "=1 (REG_DWORD)"};
}
Log disableProxy() {
    return {"write " + kEnable + "=0 (REG_DWORD)"};
}
Log launched() {
    return {"launch " + kBrowser};
}
Log operator+(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct SelectionCommandsTest : ::testing::Test {
    ScopedUserHome home;
    std::string iniPath = home.configDir() + "/prefs.ini";
    Log log;
    FakeRegistry registry;
    FakeStatusLine status;
    FakeDialogs dialogs;
    FakeListBox Proxydisplay;
    FakeShell shell;
    FakeRandom random;
    SystemProxy proxy{registry, status, dialogs};
    BrowserLaunch launch{shell, dialogs, iniPath};
    SelectionCommands commands{Proxydisplay, proxy, launch, random, iniPath};

    SelectionCommandsTest() {
        registry.sharedLog = &log;
        status.sharedLog = &log;
        dialogs.sharedLog = &log;
        shell.sharedLog = &log;
        EXPECT_TRUE(WriteINI("Path", "IE", kBrowser, iniPath));
    }
};

TEST_F(SelectionCommandsTest, EachCommandChangesTheProxyThenStartsTheBrowser) {
    using Command = void (SelectionCommands::*)();
    const std::vector<std::string> three = {"10.0.0.1:80", "10.0.0.2:8080", "proxy.example:3128"};
    const struct {
        const char* name;
        Command command;
        std::vector<std::string> rows;
        int selected;
        std::deque<double> draws;
        Log expected;
    } cases[] = {
        {"use and launch, nothing selected",
         &SelectionCommands::choice_Click,
         three,
         -1,
         {},
         useProxy(three[0]) + launched()},
        {"use and launch, entry 2 selected",
         &SelectionCommands::choice_Click,
         three,
         2,
         {},
         useProxy(three[2]) + launched()},
        {"use and launch, empty list", &SelectionCommands::choice_Click, {}, -1, {}, useProxy("") + launched()},
        {"use this proxy, nothing selected", &SelectionCommands::Mnuthisproxy_Click, three, -1, {}, useProxy("")},
        {"use this proxy, entry 1 selected", &SelectionCommands::Mnuthisproxy_Click, three, 1, {}, useProxy(three[1])},
        {"random, one entry",
         &SelectionCommands::MnuSwitch_Click,
         {"only:1"},
         -1,
         {0.999},
         useProxy("only:1") + launched()},
        {"random, empty list", &SelectionCommands::MnuSwitch_Click, {}, -1, {0.5}, useProxy("") + launched()},
        {"random, low draw", &SelectionCommands::MnuSwitch_Click, three, 1, {0.0}, useProxy(three[0]) + launched()},
        {"random, middle draw", &SelectionCommands::MnuSwitch_Click, three, -1, {0.5}, useProxy(three[1]) + launched()},
        {"random, just below 1/3",
         &SelectionCommands::MnuSwitch_Click,
         three,
         -1,
         {0.3333},
         useProxy(three[0]) + launched()},
        {"random, highest draw",
         &SelectionCommands::MnuSwitch_Click,
         three,
         -1,
         {0.99999},
         useProxy(three[2]) + launched()},
        {"random, draw of 1 kept in range",
         &SelectionCommands::MnuSwitch_Click,
         three,
         -1,
         {1.0},
         useProxy(three[2]) + launched()},
        {"random, negative draw kept in range",
         &SelectionCommands::MnuSwitch_Click,
         three,
         -1,
         {-0.5},
         useProxy(three[0]) + launched()},
        {"no proxy and launch", &SelectionCommands::Mnunoproxy2_Click, three, 0, {}, disableProxy() + launched()},
    };
    for (const auto& c : cases) {
        log.clear();
        status.text = "before";
        Proxydisplay.rows = c.rows;
        Proxydisplay.selected = c.selected;
        random.draws = c.draws;
        (commands.*c.command)();
        EXPECT_EQ(log, c.expected) << c.name;
        EXPECT_EQ(Proxydisplay.rows, c.rows) << c.name << ": the list is never changed";
        EXPECT_EQ(Proxydisplay.selected, c.selected) << c.name << ": nor its selection";
        if (c.command == &SelectionCommands::Mnunoproxy2_Click) {
            EXPECT_EQ(status.text, "before") << c.name;
        }
    }
}

TEST_F(SelectionCommandsTest, EveryClickRunsTheWholeCommandAgain) {
    Proxydisplay.rows = {"a:1", "b:2", "c:3"};
    Proxydisplay.selected = 2;
    commands.choice_Click();
    commands.choice_Click();
    EXPECT_EQ(log, useProxy("c:3") + launched() + useProxy("c:3") + launched());
}

TEST_F(SelectionCommandsTest, WithoutABrowserPathTheProxyStillChangesBeforeTheMessage) {
    ASSERT_TRUE(WriteINI("Path", "IE", "", iniPath));
    Proxydisplay.rows = {"a:1"};
    commands.choice_Click();
    commands.MnuSwitch_Click();
    commands.Mnunoproxy2_Click();
    const Log message = {"msgbox Cannot find internet explorer"};
    EXPECT_EQ(log, useProxy("a:1") + message + useProxy("a:1") + message + disableProxy() + message);
    EXPECT_EQ(status.text, "Proxy changed to : a:1");
    EXPECT_TRUE(shell.requests.empty());
}

// Stands for a clock-seeded generator, and changes the stored browser path when reseeded.
class PathChangingRandom final : public RandomSource {
public:
    std::function<void()> onReseed;
    int reseeds = 0;
    void reseedFromClock() override {
        ++reseeds;
        onReseed();
    }
    double next() override { return 0.0; }
};

TEST_F(SelectionCommandsTest, RandomProxyReadsThePathBeforeTheDrawAndReseedsEachTime) {
    PathChangingRandom changing;
    changing.onReseed = [this] { WriteINI("Path", "IE", "/changed/too/late", iniPath); };
    SelectionCommands withChanging{Proxydisplay, proxy, launch, changing, iniPath};
    Proxydisplay.rows = {"a:1"};
    withChanging.MnuSwitch_Click();
    EXPECT_EQ(changing.reseeds, 1);
    ASSERT_EQ(shell.requests.size(), 1u);
    EXPECT_EQ(shell.requests[0].file, kBrowser);

    withChanging.MnuSwitch_Click();
    EXPECT_EQ(changing.reseeds, 2);
    EXPECT_EQ(shell.requests.at(1).file, "/changed/too/late");
}

TEST_F(SelectionCommandsTest, RandomProxyOverManyUsesPicksEveryEntryAndNoOther) {
    ClockRandomSource clockRandom;
    SelectionCommands withClock{Proxydisplay, proxy, launch, clockRandom, iniPath};
    Proxydisplay.rows = {"a:1", "b:2", "c:3", "d:4", "e:5"};
    std::set<std::string> used;
    for (int i = 0; i < 2000; ++i) {
        withClock.MnuSwitch_Click();
        used.insert(regValueText(registry.values.at(kServer)));
    }
    EXPECT_EQ(used, (std::set<std::string>{"a:1", "b:2", "c:3", "d:4", "e:5"}));
    EXPECT_EQ(shell.requests.size(), 2000u);
}

TEST_F(SelectionCommandsTest, NoBrowserIsStartedWhenTheProxyCouldNotBeChanged) {
    Proxydisplay.rows = {"a:1"};
    registry.failWritesTo = kServer;
    commands.choice_Click();
    commands.MnuSwitch_Click();
    registry.failWritesTo = kEnable;
    commands.Mnunoproxy2_Click();
    EXPECT_TRUE(shell.requests.empty());
    EXPECT_EQ(dialogs.messages.size(), 3u) << "each failure is told once, by the proxy change itself";
}

} // namespace
} // namespace tamberly
