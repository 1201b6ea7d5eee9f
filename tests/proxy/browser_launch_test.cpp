#include "proxy/browser_launch.h"

#ifndef _WIN32
#include "platform/linux/process_shell.h"
#endif
#include "storage/ini_file.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <map>

namespace tamberly {
namespace {

using test::FakeDialogs;
using test::FakeShell;
using test::ScopedUserHome;

struct BrowserLaunchTest : ::testing::Test {
    ScopedUserHome home;
    std::string iniPath = home.configDir() + "/prefs.ini";
    FakeShell shell;
    FakeDialogs dialogs;
    BrowserLaunch launch{shell, dialogs, iniPath};

    std::vector<std::string> messageTexts() const {
        std::vector<std::string> texts;
        for (const auto& m : dialogs.messages)
            texts.push_back(m.text);
        return texts;
    }
};

TEST_F(BrowserLaunchTest, StartDocMakesOneOpenRequestAndReturnsItsResult) {
    const std::string path = "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE";
    for (long result : {33L, 7L, 0L, -1L, 123456L}) {
        shell.requests.clear();
        shell.result = result;
        EXPECT_EQ(launch.StartDoc(path), result);
        ASSERT_EQ(shell.requests.size(), 1u);
        const auto& r = shell.requests[0];
        EXPECT_EQ(r.owner, shell.GetDesktopWindow());
        EXPECT_EQ(r.verb, "Open");
        EXPECT_EQ(r.file, path);
        EXPECT_EQ(r.parameters, "");
        EXPECT_EQ(r.directory, "C:\\");
        EXPECT_EQ(r.show, 1);
    }
    EXPECT_TRUE(dialogs.messages.empty()) << "StartDoc shows nothing itself";
}

TEST_F(BrowserLaunchTest, LaunchBrowserReportsAnEmptyPathOrAFailedStart) {
    const struct {
        std::string path;
        long result;
        std::vector<std::string> messages;
        std::size_t requests;
    } cases[] = {
        {"", 42, {"Cannot find internet explorer"}, 0},
        {"/usr/bin/browser", 33, {}, 1},
        {"/usr/bin/browser", 4242, {}, 1},
        {"/usr/bin/browser", 32, {"DLL not found"}, 1},
        {"/usr/bin/browser", 31, {"No association for file extension"}, 1},
        {"/usr/bin/browser", 11, {"Invalid EXE file or error in EXE image"}, 1},
        {"/usr/bin/browser", 2, {"File not found"}, 1},
        {"/usr/bin/browser", 0, {"Unknown error"}, 1},
    };
    for (const auto& c : cases) {
        shell.requests.clear();
        dialogs.messages.clear();
        shell.result = c.result;
        EXPECT_EQ(launch.LaunchBrowser(c.path), c.messages.empty()) << c.path << " " << c.result;
        EXPECT_EQ(messageTexts(), c.messages) << c.path << " " << c.result;
        EXPECT_EQ(shell.requests.size(), c.requests) << c.path << " " << c.result;
        for (const auto& m : dialogs.messages) {
            EXPECT_EQ(m.buttons, Dialogs::vbOKOnly);
            EXPECT_EQ(m.title, "") << "the application's own title";
        }
    }
}

TEST(ShellErrorText, EveryCodeOfThirtyTwoOrLess) {
    const std::map<long, std::string> known = {
        {2, "File not found"},
        {3, "Path not found"},
        {5, "Access denied"},
        {8, "Out of memory"},
        {11, "Invalid EXE file or error in EXE image"},
        {26, "A sharing violation occurred"},
        {27, "Incomplete or invalid file association"},
        {28, "DDE Time out"},
        {29, "DDE transaction failed"},
        {30, "DDE busy"},
        {31, "No association for file extension"},
        {32, "DLL not found"},
    };
    for (long code = -3; code <= 32; ++code) {
        const auto it = known.find(code);
        EXPECT_EQ(BrowserLaunch::ShellErrorText(code), it == known.end() ? "Unknown error" : it->second) << code;
    }
    EXPECT_EQ(BrowserLaunch::ShellErrorText(-2147483647L), "Unknown error");
}

TEST_F(BrowserLaunchTest, LaunchReadsTheStoredPathAnewEveryTime) {
    // The window sets its settings path only after the handlers are made: the launch must see it as it is then.
    std::string windowIniPath;
    BrowserLaunch windowLaunch{shell, dialogs, windowIniPath};
    windowIniPath = iniPath;

    windowLaunch.Mnulaunch_Click();
    EXPECT_EQ(messageTexts(), std::vector<std::string>{"Cannot find internet explorer"});
    EXPECT_TRUE(shell.requests.empty());

    ASSERT_TRUE(WriteINI("Path", "IE", "/opt/first/browser", iniPath));
    windowLaunch.Mnulaunch_Click();
    ASSERT_TRUE(WriteINI("Path", "IE", "/opt/second/browser", iniPath));
    windowLaunch.Mnulaunch_Click();
    ASSERT_EQ(shell.requests.size(), 2u);
    EXPECT_EQ(shell.requests[0].file, "/opt/first/browser");
    EXPECT_EQ(shell.requests[1].file, "/opt/second/browser");
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

// The Windows shell's own codes for real starts are tested with its platform.
#ifndef _WIN32
TEST_F(BrowserLaunchTest, FailuresOfARealStartReachTheUser) {
    ProcessShell processShell;
    BrowserLaunch real{processShell, dialogs, iniPath};
    const std::string missingFile = home.dir().file("no-browser");
    const std::string missingFolder = home.dir().file("no-folder/browser");
    for (const auto& path : {missingFile, missingFolder, home.dir().path()})
        EXPECT_FALSE(real.LaunchBrowser(path)) << path;
    EXPECT_EQ(messageTexts(), (std::vector<std::string>{"File not found", "Path not found", "Access denied"}));
}
#endif

} // namespace
} // namespace tamberly
