// "Add a new proxy" and "Report dead proxy" against the real tamberly-listserver over HTTP on 127.0.0.1.
#include "net/proxy_submission.h"
#include "platform/qt/qt_transfer_control.h"
#include "server/listserver_process.h"
#include "storage/ini_file.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace tamberly::test {
namespace {

class ListServerExchange : public ::testing::Test {
protected:
    ListServerExchange() {
        EXPECT_TRUE(WriteINI("Server", "URL", "http://127.0.0.1:" + std::to_string(server.port()), iniPath));
    }

    TempDir dir;
    ServerProcess server{{"--db", dir.file("list.db")}};
    ScopedUserHome home;
    std::string iniPath = home.configDir() + "/prefs.ini";
    FakeStatusLine status;
    FakeDialogs dialogs;
    FakeListBox box;
    QtTransferControl inet;
    ProxySubmission submission{inet, status, box, dialogs, iniPath};
};

// The server's one-line reason for a refusal reaches the status line, ahead of the status it answered.
TEST_F(ListServerExchange, ARefusalShowsTheServersReason) {
    const struct {
        bool report;
        std::string entry;
        std::string target; // the same request, sent directly to learn the server's own reason
        std::string command;
        std::string answered;
    } cases[] = {
        {false, " 10.0.0.1:80", "/Tamberly/addproxy.php?proxy=%2010.0.0.1:80",
         "Proxy not submitted: ", "the server answered 400 Bad Request"},
        {false, "10.0.0.1:0", "/Tamberly/addproxy.php?proxy=10.0.0.1:0",
         "Proxy not submitted: ", "the server answered 400 Bad Request"},
        {true, "10.9.9.9:8080", "/Tamberly/deadproxy.php?proxy=10.9.9.9:8080",
         "Dead proxy not reported: ", "the server answered 404 Not Found"},
    };
    for (const auto& c : cases) {
        const Answer direct = get(server, c.target);
        ASSERT_GE(direct.status, 400) << c.entry;
        ASSERT_FALSE(direct.body.empty()) << c.entry;
        dialogs.typed = {c.entry};
        dialogs.answers = {Dialogs::vbYes};
        box.rows = {c.entry};
        box.selected = 0;

        if (c.report)
            submission.Mnudead_Click();
        else
            submission.Mnuadd_Click();

        EXPECT_EQ(status.text, c.command + direct.body.substr(0, direct.body.find('\n')) + " (" + c.answered + ")")
            << c.entry;
    }
}

TEST_F(ListServerExchange, AnAcceptedEntryIsThanked) {
    dialogs.typed = {"10.0.0.1:80"};
    dialogs.answers = {Dialogs::vbYes};
    submission.Mnuadd_Click();
    EXPECT_EQ(status.text, "Thanks, Proxy Submitted !");
}

} // namespace
} // namespace tamberly::test
