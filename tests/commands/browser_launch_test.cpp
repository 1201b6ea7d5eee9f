// "Launch", and how every command that starts the browser tells why it could not.
#include "commands_fixture.h"

#include "commands/browser_launch.h"

#include <gmock/gmock.h>

namespace tamberly::test {
namespace {

using ::testing::IsEmpty;

struct BrowserLaunchTest : CommandsTest {};

TEST_F(BrowserLaunchTest, LaunchStartsTheStoredBrowserOrSaysWhyNot) {
    const struct {
        std::string path;
        LaunchError error;
        std::vector<std::string> messages;
        std::size_t launches;
    } cases[] = {
        {"", LaunchError::None, {"Cannot find internet explorer"}, 0},
        {"/usr/bin/browser", LaunchError::None, {}, 1},
        {"/usr/bin/browser", LaunchError::DllNotFound, {"DLL not found"}, 1},
        {"/usr/bin/browser", LaunchError::NoAssociation, {"No association for file extension"}, 1},
        {"/usr/bin/browser", LaunchError::BadFormat, {"Invalid EXE file or error in EXE image"}, 1},
        {"/usr/bin/browser", LaunchError::FileNotFound, {"File not found"}, 1},
        {"/usr/bin/browser", LaunchError::Unknown, {"Unknown error"}, 1},
    };
    for (const auto& c : cases) {
        editSetting("Path", "IE", c.path);
        platform.launcher_.launches.clear();
        view.messages.clear();
        view.status = "before";
        platform.launcher_.result = c.error;
        run(Command::LaunchBrowser);
        std::vector<std::string> texts;
        for (const auto& m : view.messages) {
            texts.push_back(m.text);
            EXPECT_EQ(m.title, "") << "the application's own title";
        }
        EXPECT_EQ(texts, c.messages) << c.path;
        EXPECT_EQ(platform.launcher_.launches.size(), c.launches) << c.path;
        EXPECT_EQ(view.status, "before") << "Launch never touches the status line";
        EXPECT_THAT(platform.proxy.applied, IsEmpty()) << "nor the proxy";
    }
}

TEST(LaunchErrorText, EveryFailureHasItsMessage) {
    const std::pair<LaunchError, std::string> texts[] = {
        {LaunchError::FileNotFound, "File not found"},
        {LaunchError::PathNotFound, "Path not found"},
        {LaunchError::AccessDenied, "Access denied"},
        {LaunchError::OutOfMemory, "Out of memory"},
        {LaunchError::BadFormat, "Invalid EXE file or error in EXE image"},
        {LaunchError::SharingViolation, "A sharing violation occurred"},
        {LaunchError::IncompleteAssociation, "Incomplete or invalid file association"},
        {LaunchError::DdeTimeout, "DDE Time out"},
        {LaunchError::DdeFailed, "DDE transaction failed"},
        {LaunchError::DdeBusy, "DDE busy"},
        {LaunchError::NoAssociation, "No association for file extension"},
        {LaunchError::DllNotFound, "DLL not found"},
        {LaunchError::Unknown, "Unknown error"},
    };
    for (const auto& [error, text] : texts)
        EXPECT_EQ(launchErrorText(error), text);
}

// prefs.ini is read once per command: an edit by hand counts from the next command on.
TEST_F(BrowserLaunchTest, EachCommandReadsTheStoredPathAnew) {
    editSetting("Path", "IE", "/opt/first/browser");
    run(Command::LaunchBrowser);
    editSetting("Path", "IE", "/opt/second/browser");
    run(Command::LaunchBrowser);
    run(Command::LaunchBrowser);
    const auto& launches = platform.launcher_.launches;
    ASSERT_EQ(launches.size(), 3u);
    EXPECT_EQ(launches[0].program, "/opt/first/browser");
    EXPECT_EQ(launches[1].program, "/opt/second/browser");
    EXPECT_EQ(launches[2].program, "/opt/second/browser");
}

} // namespace
} // namespace tamberly::test
