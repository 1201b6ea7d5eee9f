// "Start with the session": the menu item's check follows the entry, and a refused change says why.
#include "commands_fixture.h"

namespace tamberly::test {
namespace {

using StartWithSessionTest = CommandsTest;

TEST_F(StartWithSessionTest, EachClickTurnsItOverAndSaysSo) {
    EXPECT_FALSE(commands.startsWithSession());
    run(Command::ToggleStartWithSession);
    EXPECT_TRUE(platform.sessionStart_.on);
    EXPECT_TRUE(commands.startsWithSession());
    EXPECT_EQ(view.status, "Tamberly will start with the session, in the notification area");
    run(Command::ToggleStartWithSession);
    EXPECT_FALSE(commands.startsWithSession());
    EXPECT_EQ(view.status, "Tamberly will no longer start with the session");
    EXPECT_TRUE(platform.proxy.applied.empty());
    EXPECT_TRUE(platform.launcher_.launches.empty());
}

TEST_F(StartWithSessionTest, ARefusedChangeKeepsTheStateAndNamesTheReason) {
    platform.sessionStart_.failure = "/home/u/.config/autostart: Permission denied";
    run(Command::ToggleStartWithSession);
    EXPECT_FALSE(commands.startsWithSession());
    EXPECT_EQ(view.status, "Start with the session is unchanged: /home/u/.config/autostart: Permission denied");
}

} // namespace
} // namespace tamberly::test
