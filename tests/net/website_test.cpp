// "Visit Website" and "Show Internet Options".
#include "net/website.h"

#include "net_fakes.h"
#include "storage/ini_file.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace tamberly::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class WebsiteTest : public ::testing::Test {
protected:
    ScopedUserHome home;
    std::string iniPath = home.configDir() + "/prefs.ini";
    FakeWebBrowser browser;
    FakeOptionsPanel options;
    FakeDialogs dialogs;
    Website website{browser, options, dialogs, iniPath};
};

TEST_F(WebsiteTest, EachVisitOpensThePageOnce) {
    website.Mnuvisit_Click();
    ASSERT_TRUE(WriteINI("Server", "URL", "http://lists.example:9000/", iniPath));
    website.Mnuvisit_Click();

    EXPECT_THAT(browser.opened, ElementsAre("http://127.0.0.1:8642/Tamberly/index.php",
                                            "http://lists.example:9000/Tamberly/index.php"));
    EXPECT_THAT(dialogs.messages, IsEmpty());
    EXPECT_EQ(options.opened, 0);
}

TEST_F(WebsiteTest, AVisitThatFailsSaysSo) {
    browser.failure = "File not found";

    website.Mnuvisit_Click();

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "The web page could not be opened: File not found");
    EXPECT_EQ(dialogs.messages[0].buttons, Dialogs::vbOKOnly);
    EXPECT_EQ(dialogs.messages[0].title, "");
}

TEST_F(WebsiteTest, EachOptionsClickOpensThePanel) {
    website.Mnuclose_Click();
    website.Mnuclose_Click();

    EXPECT_EQ(options.opened, 2);
    EXPECT_THAT(browser.opened, IsEmpty());
}

} // namespace
} // namespace tamberly::test
