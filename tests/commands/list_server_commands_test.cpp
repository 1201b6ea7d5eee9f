// "Download List", "Add a new proxy", "Report dead proxy" and "Visit Website": what is asked, what is sent, what a
// failure leaves alone.
#include "commands_fixture.h"

#include "core/proxy_list_store.h"

#include <gmock/gmock.h>

namespace tamberly::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kListUrl = "http://127.0.0.1:8642/Tamberly/update.php";
constexpr const char* kAddUrl = "http://127.0.0.1:8642/Tamberly/addproxy.php?proxy=";
constexpr const char* kDeadUrl = "http://127.0.0.1:8642/Tamberly/deadproxy.php?proxy=";

class ListServerCommandsTest : public CommandsTest {
protected:
    ListServerCommandsTest() {
        platform.proxy.setting = ProxySetting::manual(*parseProxyServers("on.example:1").servers);
        showRows({"old:1", "old:2"}, 1);
    }
    // Answers the next request with result, noting the status text shown while it runs.
    void answerWith(TransferResult result) {
        platform.transfer_.answer = [this, result](const std::string&) {
            statusDuringRequest = view.status;
            return result;
        };
    }
    std::string stored() { return ProxyListStore(settings).load(); }

    std::string statusDuringRequest;
};

// The list as the server sends it, and the rows it gives; the stored text is always the whole response.
struct ListCase {
    const char* name;
    std::string response;
    std::vector<std::string> rows;
};

TEST_F(ListServerCommandsTest, DownloadStoresTheResponseAndShowsItsEntries) {
    const ListCase cases[] = {
        {"two entries", "10.0.0.1:80*10.0.0.2:3128*", {"10.0.0.1:80", "10.0.0.2:3128"}},
        {"missing last separator", "10.0.0.1:80*10.0.0.2:3128", {"10.0.0.1:80"}},
        {"adjacent separators", "a**b*", {"a", "", "b"}},
        {"entries kept as sent", " spaced :8080 *x*", {" spaced :8080 ", "x"}},
    };
    for (const auto& c : cases) {
        platform.transfer_.urls.clear();
        platform.proxy.setting.mode = ProxyMode::Manual;
        answerWith({true, c.response, {}});

        run(Command::DownloadList);

        EXPECT_THAT(platform.transfer_.urls, ElementsAre(kListUrl)) << c.name;
        EXPECT_EQ(statusDuringRequest, "Retreiving list, please wait ...") << c.name;
        EXPECT_EQ(platform.proxy.setting.mode, ProxyMode::Off) << c.name << ": the proxy is off, and stays off";
        EXPECT_EQ(view.status, "List downloaded from server.") << c.name;
        EXPECT_THAT(view.rows, ElementsAreArray(c.rows)) << c.name;
        EXPECT_EQ(stored(), c.response) << c.name;
    }
}

TEST_F(ListServerCommandsTest, DownloadWhileATransferRunsSaysBusyAndSendsNothing) {
    platform.transfer_.isBusy = true;
    run(Command::DownloadList);
    EXPECT_EQ(view.status, "Busy");
    EXPECT_THAT(platform.transfer_.urls, IsEmpty());
    EXPECT_EQ(platform.proxy.setting.mode, ProxyMode::Off) << "the proxy is switched off first, on every click";
    EXPECT_THAT(view.rows, ElementsAre("old:1", "old:2"));
}

TEST_F(ListServerCommandsTest, CommandsDuringARequestSayBusy) {
    platform.transfer_.answer = [this](const std::string&) {
        run(Command::DownloadList);
        view.answers = {View::Answer::Yes};
        view.typed = {"10.0.0.9:80"};
        run(Command::SubmitProxy);
        return TransferResult{true, "10.0.0.1:80*", {}};
    };
    run(Command::DownloadList);
    EXPECT_EQ(platform.transfer_.urls.size(), 1u);
    EXPECT_THAT(view.statuses,
                ElementsAre("Retreiving list, please wait ...", "Busy", "Busy", "List downloaded from server."));
    EXPECT_THAT(view.rows, ElementsAre("10.0.0.1:80"));
}

// A failed request, an empty list or an answer that is no list leaves the rows and the stored list as they were.
TEST_F(ListServerCommandsTest, AFailureOrAnEmptyListChangesNothing) {
    const struct {
        TransferResult result;
        std::string status;
    } cases[] = {
        {{false, {}, "the server refused the connection"}, "List download failed: the server refused the connection"},
        {{false, {}, "the server answered 500 Internal Server Error"},
         "List download failed: the server answered 500 Internal Server Error"},
        {{false, {}, "the server answered 403 Forbidden", "entry refused\r\nmore"},
         "List download failed: entry refused (the server answered 403 Forbidden)"},
        {{true, {}, {}}, "The server sent an empty list; nothing changed."},
        {{true, "<html><body>Router login</body></html>", {}},
         "The server's answer is not a proxy list; nothing changed."},
    };
    ASSERT_EQ(ProxyListStore(settings).save("old:1*old:2*"), "");
    const std::string storedBefore = readFile(prefs);
    for (const auto& c : cases) {
        answerWith(c.result);
        run(Command::DownloadList);
        EXPECT_EQ(view.status, c.status);
        EXPECT_THAT(view.rows, ElementsAre("old:1", "old:2"));
        EXPECT_EQ(view.selected, 1);
        EXPECT_EQ(readFile(prefs), storedBefore) << c.status;
        EXPECT_EQ(platform.proxy.setting.mode, ProxyMode::Off);
    }
}

TEST_F(ListServerCommandsTest, AListThatCannotBeSavedIsShownAndSaysSo) {
    writeFile(home.dir().file("blocker"), "a file where a folder should be");
    Settings blocked(home.dir().file("blocker") + "/prefs.ini");
    Commands blockedCommands(view, platform, blocked);
    answerWith({true, "10.0.0.1:80*", {}});
    blockedCommands.run(Command::DownloadList);
    EXPECT_THAT(view.status, HasSubstr("List downloaded from server and shown, but it could not be saved"));
    EXPECT_THAT(view.rows, ElementsAre("10.0.0.1:80"));
}

TEST_F(ListServerCommandsTest, EachRequestGoesToTheServerNamedInTheSettingsThen) {
    answerWith({true, "a*", {}});
    editSetting("Server", "URL", "http://lists.example:9000/");
    run(Command::DownloadList);
    editSetting("Server", "URL", "https://other.example/mirror");
    run(Command::DownloadList);
    view.typed = {"10.0.0.1:80"};
    view.answers = {View::Answer::Yes};
    run(Command::SubmitProxy);
    run(Command::VisitWebsite);
    EXPECT_THAT(platform.transfer_.urls, ElementsAre("http://lists.example:9000/Tamberly/update.php",
                                                     "https://other.example/mirror/Tamberly/update.php",
                                                     "https://other.example/mirror/Tamberly/addproxy.php?proxy="
                                                     "10.0.0.1:80"));
    ASSERT_EQ(platform.launcher_.opened.size(), 1u);
    EXPECT_EQ(platform.launcher_.opened[0].url, "https://other.example/mirror/Tamberly/index.php");
}

TEST_F(ListServerCommandsTest, AddSendsTheTypedEntryAfterYes) {
    view.typed = {"10.0.0.1:80"};
    view.answers = {View::Answer::Yes};
    run(Command::SubmitProxy);
    ASSERT_EQ(view.prompts.size(), 1u);
    EXPECT_EQ(view.prompts[0].text, "Enter the proxy address (ip:port) ex:127.0.0.1:80");
    EXPECT_EQ(view.prompts[0].title, "Add a proxy");
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0].text, "Do you want to send 10.0.0.1:80 as new proxy ?");
    EXPECT_EQ(view.questions[0].title, "New Proxy");
    EXPECT_THAT(platform.transfer_.urls, ElementsAre(std::string(kAddUrl) + "10.0.0.1:80"));
    EXPECT_EQ(view.status, "Thanks, Proxy Submitted !");
    EXPECT_THAT(platform.proxy.applied, IsEmpty()) << "a submission never touches the proxy";
}

TEST_F(ListServerCommandsTest, DeadReportsTheSelectedRowAfterYes) {
    view.selected = 0;
    view.answers = {View::Answer::Yes};
    run(Command::ReportDeadProxy);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0].text, "Do you want to report old:1 as dead proxy ?");
    EXPECT_EQ(view.questions[0].title, "Dead Proxy");
    EXPECT_THAT(platform.transfer_.urls, ElementsAre(std::string(kDeadUrl) + "old:1"));
    EXPECT_EQ(view.status, "Proxy desactivated !");
    EXPECT_THAT(view.rows, ElementsAre("old:1", "old:2")) << "the reported entry stays in the list";
    EXPECT_THAT(platform.proxy.applied, IsEmpty());
}

// A blank, "&" or "=" in the entry must not split the query or add a parameter to it.
TEST_F(ListServerCommandsTest, EntriesAreEncodedInTheQuery) {
    showRows({"a b&c=d"}, 0);
    view.typed = {"a b&c=d"};
    view.answers = {View::Answer::Yes, View::Answer::Yes};
    run(Command::SubmitProxy);
    run(Command::ReportDeadProxy);
    EXPECT_EQ(view.questions[0].text, "Do you want to send a b&c=d as new proxy ?") << "shown as typed";
    EXPECT_THAT(platform.transfer_.urls,
                ElementsAre(std::string(kAddUrl) + "a%20b%26c%3Dd", std::string(kDeadUrl) + "a%20b%26c%3Dd"));
}

TEST_F(ListServerCommandsTest, EndsSilentlyWithoutAnEntryOrAYes) {
    view.status = "before";
    view.typed = {std::nullopt, "", "10.0.0.1:80"};
    view.answers = {View::Answer::No, View::Answer::No};
    run(Command::SubmitProxy); // cancelled
    run(Command::SubmitProxy); // confirmed empty
    EXPECT_THAT(view.questions, IsEmpty());
    run(Command::SubmitProxy); // No
    view.selected = 0;
    run(Command::ReportDeadProxy); // No
    EXPECT_EQ(view.questions.size(), 2u);
    EXPECT_THAT(platform.transfer_.urls, IsEmpty());
    EXPECT_EQ(view.status, "before");
}

TEST_F(ListServerCommandsTest, DeadWithoutASelectionAsksForOne) {
    view.selected.reset();
    view.status = "before";
    run(Command::ReportDeadProxy);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Please select the proxy on the list first");
    EXPECT_EQ(view.messages[0].title, "") << "the application's title";
    EXPECT_THAT(view.questions, IsEmpty());
    EXPECT_THAT(platform.transfer_.urls, IsEmpty());
    EXPECT_EQ(view.status, "before");
}

TEST_F(ListServerCommandsTest, WhileATransferRunsBothSayBusyAfterTheQuestion) {
    platform.transfer_.isBusy = true;
    view.typed = {"10.0.0.1:80"};
    view.answers = {View::Answer::Yes, View::Answer::Yes};
    view.selected = 0;
    run(Command::SubmitProxy);
    EXPECT_EQ(view.status, "Busy");
    view.status = "before";
    run(Command::ReportDeadProxy);
    EXPECT_EQ(view.status, "Busy");
    EXPECT_EQ(view.questions.size(), 2u) << "the question comes before the test for a running transfer";
    EXPECT_THAT(platform.transfer_.urls, IsEmpty());
}

TEST_F(ListServerCommandsTest, AFailedRequestIsNeverReportedAsDone) {
    answerWith({false, {}, "the server answered 500 Internal Server Error"});
    view.typed = {"10.0.0.1:80"};
    view.answers = {View::Answer::Yes, View::Answer::Yes};
    view.selected = 0;
    run(Command::SubmitProxy);
    EXPECT_EQ(view.status, "Proxy not submitted: the server answered 500 Internal Server Error");
    run(Command::ReportDeadProxy);
    EXPECT_EQ(view.status, "Dead proxy not reported: the server answered 500 Internal Server Error");
}

TEST_F(ListServerCommandsTest, EachVisitOpensThePageOnceInTheStoredBrowserWithTheProxyInForce) {
    run(Command::VisitWebsite);
    run(Command::VisitWebsite);
    const auto& opened = platform.launcher_.opened;
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].url, "http://127.0.0.1:8642/Tamberly/index.php");
    EXPECT_EQ(opened[0].browser, kBrowser);
    EXPECT_EQ(opened[0].environment, proxyEnvironment(platform.proxy.setting));
    EXPECT_THAT(view.messages, IsEmpty());
    EXPECT_THAT(platform.proxy.applied, IsEmpty()) << "a visit leaves the proxy as it is";

    platform.launcher_.result = LaunchError::FileNotFound;
    run(Command::VisitWebsite);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "The web page could not be opened: File not found");
}

} // namespace
} // namespace tamberly::test
