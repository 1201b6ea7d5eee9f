// "Add a new proxy" and "Report dead proxy" against the real tamberly-listserver over HTTP on 127.0.0.1.
#include "commands/commands.h"
#include "core/settings.h"
#include "server/listserver_process.h"
#include "support/fake_view.h"
#include "support/temp_dir.h"
#include "transfer_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace tamberly::test {
namespace {

class ListServerExchange : public ::testing::Test {
protected:
    ListServerExchange() {
        EXPECT_EQ(settings.setValue("Server", "URL", "http://127.0.0.1:" + std::to_string(server.port())), "");
    }
    void run(Command command) { commands.run(command); }

    TempDir dir;
    // Its entries are in private ranges, which a public list refuses.
    ServerProcess server{{"--db", dir.file("list.db"), "--allow-private-entries"}};
    ScopedUserHome home;
    Settings settings{home.configDir() + "/prefs.ini"};
    FakeView view;
    TransferPlatform platform;
    Commands commands{view, platform, settings};
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
        view.typed = {c.entry};
        view.answers = {View::Answer::Yes};
        view.rows = {c.entry};
        view.selected = 0;

        run(c.report ? Command::ReportDeadProxy : Command::SubmitProxy);

        EXPECT_EQ(view.status, c.command + direct.body.substr(0, direct.body.find('\n')) + " (" + c.answered + ")")
            << c.entry;
    }
}

TEST_F(ListServerExchange, AnAcceptedEntryIsThanked) {
    view.typed = {"10.0.0.1:80"};
    view.answers = {View::Answer::Yes};
    run(Command::SubmitProxy);
    EXPECT_EQ(view.status, "Thanks, Proxy Submitted !");
}

} // namespace
} // namespace tamberly::test
