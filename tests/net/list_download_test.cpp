// "Download List": the fetch, the tick that stores and shows the list, and what a failure leaves alone.
#include "net/list_download.h"

#include "net_fakes.h"
#include "proxy/system_proxy.h"
#include "storage/ini_file.h"
#include "storage/proxy_list_store.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace tamberly::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

constexpr const char* kListUrl = "http://127.0.0.1:8642/Tamberly/update.php";

class ListDownloadTest : public ::testing::Test {
protected:
    ListDownloadTest() {
        registry.values[kProxyEnableName] = std::uint32_t{1};
        box.rows = {"old:1", "old:2"};
        box.selected = 1;
        status.sharedLog = &statusLog;
    }

    // Answers the next request with result, noting the status text shown while it runs.
    void answerWith(TransferResult result) {
        inet.answer = [this, result](const std::string&) {
            statusDuringRequest = status.text;
            return result;
        };
    }

    std::uint32_t proxyEnable() { return std::get<std::uint32_t>(registry.values.at(kProxyEnableName)); }

    ScopedUserHome home;
    std::string iniPath = home.configDir() + "/prefs.ini";
    FakeRegistry registry;
    FakeStatusLine status;
    std::vector<std::string> statusLog;
    FakeDialogs dialogs;
    SystemProxy proxy{registry, status, dialogs};
    ScriptedInet inet;
    FakeTimer timer;
    FakeListBox box;
    std::string proxylist;
    std::string statusDuringRequest;
    ListDownload download{proxy, inet, timer, status, box, proxylist, iniPath};
};

// The list as the server sends it, and the rows it gives; the stored text is always the whole response.
struct ListCase {
    const char* name;
    std::string response;
    std::vector<std::string> rows;
};

// Names the case in test listings.
void PrintTo(const ListCase& c, std::ostream* os) {
    *os << c.name;
}

class ListDownloadCases : public ListDownloadTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(ListDownloadCases, StoresTheResponseAndShowsItsEntries) {
    answerWith({true, GetParam().response, {}});

    download.Mnulist_Click();

    EXPECT_THAT(inet.urls, ElementsAre(kListUrl));
    EXPECT_EQ(statusDuringRequest, "Retreiving list, please wait ...");
    EXPECT_EQ(proxyEnable(), 0u);
    EXPECT_TRUE(timer.on);
    EXPECT_EQ(proxylist, GetParam().response);
    EXPECT_THAT(box.rows, ElementsAre("old:1", "old:2")) << "rows change only at the tick";

    download.Timer1_Timer();

    EXPECT_FALSE(timer.on);
    EXPECT_EQ(status.text, "List downloaded from server.");
    EXPECT_THAT(box.rows, ElementsAreArray(GetParam().rows));
    EXPECT_EQ(LoadList(iniPath), GetParam().response);
    EXPECT_EQ(proxyEnable(), 0u) << "nothing switches the proxy on again";
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ListDownloadCases,
    ::testing::Values(ListCase{"TwoEntries", "10.0.0.1:80*10.0.0.2:3128*", {"10.0.0.1:80", "10.0.0.2:3128"}},
                      ListCase{"MissingLastSeparator", "10.0.0.1:80*10.0.0.2:3128", {"10.0.0.1:80"}},
                      ListCase{"AdjacentSeparators", "a**b*", {"a", "", "b"}},
                      ListCase{"EntriesKeptAsSent", " spaced :8080 *x*", {" spaced :8080 ", "x"}}),
    [](const auto& info) { return info.param.name; });

TEST_F(ListDownloadTest, WhileATransferRunsSaysBusyAndSendsNothing) {
    inet.busy = true;
    timer.on = true;
    proxylist = "pending:1*";

    download.Mnulist_Click();

    EXPECT_EQ(status.text, "Busy");
    EXPECT_TRUE(inet.urls.empty());
    EXPECT_TRUE(timer.on) << "the timer keeps its state";
    EXPECT_EQ(proxylist, "pending:1*");
    EXPECT_EQ(proxyEnable(), 0u) << "the proxy is switched off first, on every click";
}

TEST_F(ListDownloadTest, ASecondClickDuringTheFetchIsBusy) {
    inet.answer = [this](const std::string&) {
        download.Mnulist_Click();
        return TransferResult{true, "10.0.0.1:80*", {}};
    };

    download.Mnulist_Click();

    EXPECT_EQ(inet.urls.size(), 1u);
    EXPECT_THAT(statusLog, ElementsAre("status Retreiving list, please wait ...", "status Busy"));
    EXPECT_TRUE(timer.on);
    EXPECT_EQ(proxylist, "10.0.0.1:80*");
}

// A failed request, an empty list or an answer that is no list leaves the timer, the holder, the rows and the stored
// list as they were.
TEST_F(ListDownloadTest, AFailureOrAnEmptyListChangesNothing) {
    const struct {
        TransferResult result;
        std::string status;
    } cases[] = {
        {{false, {}, "the server refused the connection"}, "List download failed: the server refused the connection"},
        {{false, {}, "the server answered 500 Internal Server Error"},
         "List download failed: the server answered 500 Internal Server Error"},
        {{true, {}, {}}, "The server sent an empty list; nothing changed."},
        {{true, "<html><body>Router login</body></html>", {}},
         "The server's answer is not a proxy list; nothing changed."},
    };
    ASSERT_TRUE(SaveList("old:1*old:2*", iniPath));
    const std::string storedBefore = readFile(iniPath);
    proxylist = "old:1*old:2*";
    for (const auto& c : cases) {
        answerWith(c.result);

        download.Mnulist_Click();

        EXPECT_EQ(status.text, c.status);
        EXPECT_FALSE(timer.on) << c.status;
        EXPECT_EQ(proxylist, "old:1*old:2*");
        EXPECT_THAT(box.rows, ElementsAre("old:1", "old:2"));
        EXPECT_EQ(box.selected, 1);
        EXPECT_EQ(readFile(iniPath), storedBefore) << c.status;
        EXPECT_EQ(proxyEnable(), 0u);
    }
}

TEST_F(ListDownloadTest, ATickWithNothingArrivedKeepsWaiting) {
    timer.on = true;
    status.text = "Proxy changed to : 10.0.0.1:80";

    download.Timer1_Timer();

    EXPECT_EQ(status.text, "Retreiving list, please wait ...");
    EXPECT_TRUE(timer.on);
    EXPECT_THAT(box.rows, ElementsAre("old:1", "old:2"));
}

TEST_F(ListDownloadTest, AListThatCannotBeSavedIsShownAndSaysSo) {
    writeFile(home.dir().file("blocker"), "a file where a folder should be");
    const std::string unwritable = home.dir().file("blocker") + "/prefs.ini";
    ListDownload blocked{proxy, inet, timer, status, box, proxylist, unwritable};
    answerWith({true, "10.0.0.1:80*", {}});

    blocked.Mnulist_Click();
    blocked.Timer1_Timer();

    EXPECT_THAT(status.text, HasSubstr("List downloaded from server and shown, but it could not be saved"));
    EXPECT_THAT(box.rows, ElementsAre("10.0.0.1:80"));
    EXPECT_FALSE(timer.on);
}

TEST_F(ListDownloadTest, AsksTheServerNamedInTheSettingsAtEachClick) {
    answerWith({true, "a*", {}});
    ASSERT_TRUE(WriteINI("Server", "URL", "http://lists.example:9000/", iniPath));
    download.Mnulist_Click();
    download.Timer1_Timer();
    ASSERT_TRUE(WriteINI("Server", "URL", "https://other.example/mirror", iniPath));
    download.Mnulist_Click();

    EXPECT_THAT(inet.urls, ElementsAre("http://lists.example:9000/Tamberly/update.php",
                                       "https://other.example/mirror/Tamberly/update.php"));
}

} // namespace
} // namespace tamberly::test
