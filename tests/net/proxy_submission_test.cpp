// "Add a new proxy" and "Report dead proxy": questions, the request sent, and the outcome in the status line.
#include "net/proxy_submission.h"

#include "net_fakes.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace tamberly::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kAddUrl = "http://127.0.0.1:8642/Tamberly/addproxy.php?proxy=";
constexpr const char* kDeadUrl = "http://127.0.0.1:8642/Tamberly/deadproxy.php?proxy=";

class ProxySubmissionTest : public ::testing::Test {
protected:
    ProxySubmissionTest() {
        box.rows = {"10.0.0.1:80", "a b&c=d"};
        status.text = "before";
    }

    ScopedUserHome home;
    std::string iniPath = home.configDir() + "/prefs.ini";
    ScriptedInet inet;
    FakeStatusLine status;
    FakeListBox box;
    FakeDialogs dialogs;
    ProxySubmission submission{inet, status, box, dialogs, iniPath};
};

TEST_F(ProxySubmissionTest, AddSendsTheTypedEntryAfterYes) {
    dialogs.typed = {"10.0.0.1:80"};
    dialogs.answers = {Dialogs::vbYes};

    submission.Mnuadd_Click();

    ASSERT_EQ(dialogs.inputs.size(), 1u);
    EXPECT_EQ(dialogs.inputs[0].text, "Enter the proxy address (ip:port) ex:127.0.0.1:80");
    EXPECT_EQ(dialogs.inputs[0].title, "Add a proxy");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Do you want to send 10.0.0.1:80 as new proxy ?");
    EXPECT_EQ(dialogs.messages[0].buttons, Dialogs::vbYesNo);
    EXPECT_EQ(dialogs.messages[0].title, "New Proxy");
    EXPECT_THAT(inet.urls, ElementsAre(std::string(kAddUrl) + "10.0.0.1:80"));
    EXPECT_EQ(status.text, "Thanks, Proxy Submitted !");
}

TEST_F(ProxySubmissionTest, DeadReportsTheSelectedRowAfterYes) {
    box.selected = 0;
    dialogs.answers = {Dialogs::vbYes};

    submission.Mnudead_Click();

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Do you want to report 10.0.0.1:80 as dead proxy ?");
    EXPECT_EQ(dialogs.messages[0].buttons, Dialogs::vbYesNo);
    EXPECT_EQ(dialogs.messages[0].title, "Dead Proxy");
    EXPECT_THAT(inet.urls, ElementsAre(std::string(kDeadUrl) + "10.0.0.1:80"));
    EXPECT_EQ(status.text, "Proxy desactivated !");
    EXPECT_THAT(box.rows, ElementsAre("10.0.0.1:80", "a b&c=d")) << "the reported entry stays in the list";
}

// A blank, "&" or "=" in the entry must not split the query or add a parameter to it.
TEST_F(ProxySubmissionTest, EntriesAreEncodedInTheQuery) {
    dialogs.typed = {"a b&c=d"};
    dialogs.answers = {Dialogs::vbYes, Dialogs::vbYes};
    box.selected = 1;

    submission.Mnuadd_Click();
    submission.Mnudead_Click();

    EXPECT_EQ(dialogs.messages[0].text, "Do you want to send a b&c=d as new proxy ?") << "shown as typed";
    EXPECT_THAT(inet.urls,
                ElementsAre(std::string(kAddUrl) + "a%20b%26c%3Dd", std::string(kDeadUrl) + "a%20b%26c%3Dd"));
}

TEST_F(ProxySubmissionTest, EndsSilentlyWithoutAnEntryOrAYes) {
    dialogs.typed = {"", "10.0.0.1:80"};
    dialogs.answers = {Dialogs::vbNo, Dialogs::vbNo};

    submission.Mnuadd_Click(); // cancelled or empty input: no question either
    EXPECT_THAT(dialogs.messages, IsEmpty());
    submission.Mnuadd_Click(); // No
    box.selected = 0;
    submission.Mnudead_Click(); // No

    EXPECT_EQ(dialogs.messages.size(), 2u);
    EXPECT_THAT(inet.urls, IsEmpty());
    EXPECT_EQ(status.text, "before");
}

TEST_F(ProxySubmissionTest, DeadWithoutASelectionAsksForOne) {
    submission.Mnudead_Click();

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Please select the proxy on the list first");
    EXPECT_EQ(dialogs.messages[0].buttons, Dialogs::vbOKOnly);
    EXPECT_EQ(dialogs.messages[0].title, "") << "the application's title";
    EXPECT_THAT(inet.urls, IsEmpty());
    EXPECT_EQ(status.text, "before");
}

TEST_F(ProxySubmissionTest, WhileATransferRunsBothSayBusy) {
    inet.busy = true;
    dialogs.typed = {"10.0.0.1:80"};
    dialogs.answers = {Dialogs::vbYes, Dialogs::vbYes};
    box.selected = 0;

    submission.Mnuadd_Click();
    EXPECT_EQ(status.text, "Busy");
    status.text = "before";
    submission.Mnudead_Click();
    EXPECT_EQ(status.text, "Busy");

    EXPECT_EQ(dialogs.messages.size(), 2u) << "the question comes before the test for a running transfer";
    EXPECT_THAT(inet.urls, IsEmpty());
}

TEST_F(ProxySubmissionTest, AFailedRequestIsNeverReportedAsDone) {
    inet.answer = [](const std::string&) {
        return TransferResult{false, {}, "the server answered 500 Internal Server Error"};
    };
    dialogs.typed = {"10.0.0.1:80"};
    dialogs.answers = {Dialogs::vbYes, Dialogs::vbYes};
    box.selected = 0;

    submission.Mnuadd_Click();
    EXPECT_EQ(status.text, "Proxy not submitted: the server answered 500 Internal Server Error");
    submission.Mnudead_Click();
    EXPECT_EQ(status.text, "Dead proxy not reported: the server answered 500 Internal Server Error");
}

} // namespace
} // namespace tamberly::test
