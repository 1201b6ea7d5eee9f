// The list server's commands over the program's real HTTP client, against an HTTP server on 127.0.0.1.
#include "commands/commands.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "support/fake_view.h"
#include "support/temp_dir.h"
#include "transfer_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace tamberly::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class ServerExchange : public ::testing::Test {
protected:
    ServerExchange() {
        addFaultyRoutes(server);
        server.get("/Tamberly/update.php", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("10.0.0.1:80*10.0.0.2:3128*", "text/plain");
        });
        server.get("/gated/Tamberly/update.php", [gate = gate](const httplib::Request&, httplib::Response& res) {
            gate->wait();
            res.set_content("10.0.0.3:8080*", "text/plain");
        });
        for (const char* page : {"/Tamberly/addproxy.php", "/Tamberly/deadproxy.php"})
            server.get(page,
                       [](const httplib::Request&, httplib::Response& res) { res.set_content("OK", "text/plain"); });
        server.start();

        proxy().setting = ProxySetting::manual(*parseProxyServers("on.example:1").servers);
        EXPECT_EQ(ProxyListStore(settings).save("old:1*"), "");
        view.rows = {"old:1"};
    }

    void useServer(const std::string& base) { ASSERT_EQ(settings.setValue("Server", "URL", base), ""); }
    void run(Command command) { commands.run(command); }
    FakeSystemProxy& proxy() { return platform.fakes.proxy; }
    /// The list prefs.ini holds.
    std::string stored() const {
        Settings file(prefs);
        return ProxyListStore(file).load();
    }

    HttpTestServer server;
    std::shared_ptr<Gate> gate = server.makeGate();
    ScopedUserHome home;
    std::string prefs = home.configDir() + "/prefs.ini";
    Settings settings{prefs};
    FakeView view;
    TransferPlatform platform{{kShortStall, kShortTotal, kSmallCap}}; // after the server: closed before it stops
    Commands commands{view, platform, settings};
};

TEST_F(ServerExchange, DownloadAsksForTheListAndShowsIt) {
    useServer(server.baseUrl() + "/");

    run(Command::DownloadList);

    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_EQ(server.requests()[0].target, "/Tamberly/update.php");
    EXPECT_EQ(view.status, "List downloaded from server.");
    EXPECT_THAT(view.rows, ElementsAre("10.0.0.1:80", "10.0.0.2:3128"));
    EXPECT_EQ(stored(), "10.0.0.1:80*10.0.0.2:3128*");
    EXPECT_EQ(proxy().setting.mode, ProxyMode::Off);
}

// While the list is on its way the window still runs events; every command that needs the HTTP client says "Busy"
// and sends nothing.
TEST_F(ServerExchange, CommandsDuringADownloadSayBusy) {
    useServer(server.baseUrl() + "/gated");
    view.selected = 0;
    view.typed = {"10.0.0.9:80"};
    view.answers = {View::Answer::Yes, View::Answer::Yes};
    std::vector<std::string> meanwhile;
    RequestWatcher watcher(server, 1, [&] {
        meanwhile.push_back(view.status);
        run(Command::DownloadList);
        meanwhile.push_back(view.status);
        run(Command::SubmitProxy);
        meanwhile.push_back(view.status);
        run(Command::ReportDeadProxy);
        meanwhile.push_back(view.status);
        gate->open();
    });

    run(Command::DownloadList);

    EXPECT_THAT(meanwhile, ElementsAre("Retreiving list, please wait ...", "Busy", "Busy", "Busy"));
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(view.status, "List downloaded from server.");
    EXPECT_THAT(view.rows, ElementsAre("10.0.0.3:8080"));
    EXPECT_FALSE(platform.http.busy());
}

// Every answer a list server may give: what the status line says, the rows and the stored list afterwards.
struct DownloadCase {
    const char* name;
    std::string base; // below the test server; empty: a port where nobody listens
    std::string status;
    std::vector<std::string> rows;
    std::string stored;
};

// Names the case in test listings.
void PrintTo(const DownloadCase& c, std::ostream* os) {
    *os << c.name;
}

const std::vector<std::string> kOldRows = {"old:1"};

class ServerExchangeDownload : public ServerExchange, public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(ServerExchangeDownload, ShowsTheOutcome) {
    ClosedPort closed;
    useServer(GetParam().base.empty() ? closed.url() : server.baseUrl() + GetParam().base);
    const std::string settingsBefore = readFile(prefs);

    run(Command::DownloadList);

    EXPECT_EQ(view.status, GetParam().status);
    EXPECT_THAT(view.rows, ElementsAreArray(GetParam().rows));
    EXPECT_EQ(stored(), GetParam().stored);
    if (GetParam().rows == kOldRows) {
        EXPECT_EQ(readFile(prefs), settingsBefore) << "a refused answer leaves the settings file as it was";
    }
    EXPECT_EQ(proxy().setting.mode, ProxyMode::Off);
    EXPECT_FALSE(platform.http.busy());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ServerExchangeDownload,
    ::testing::Values(
        DownloadCase{"Refused", "", "List download failed: the server refused the connection", kOldRows, "old:1*"},
        DownloadCase{"Stalled", "/stall", "List download failed: the server sent nothing for 1 second", kOldRows,
                     "old:1*"},
        DownloadCase{"TooSlowInAll", "/drip",
                     "List download failed: the server did not complete the answer within 3 seconds", kOldRows,
                     "old:1*"},
        DownloadCase{"ServerError", "/error500", "List download failed: the server answered 500 Internal Server Error",
                     kOldRows, "old:1*"},
        DownloadCase{"TooLarge", "/large", "List download failed: the answer is larger than 1 KiB", kOldRows, "old:1*"},
        DownloadCase{"TooLargeChunked", "/large-chunked", "List download failed: the answer is larger than 1 KiB",
                     kOldRows, "old:1*"},
        DownloadCase{"EmptyBody", "/empty", "The server sent an empty list; nothing changed.", kOldRows, "old:1*"},
        DownloadCase{"NoSeparator", "/nostar", "The server's answer is not a proxy list; nothing changed.", kOldRows,
                     "old:1*"},
        DownloadCase{"FiveRedirects", "/hop/5", "List downloaded from server.", {"10.0.0.1:80"}, "10.0.0.1:80*"},
        DownloadCase{"SixRedirects", "/hop/6", "List download failed: the server redirected more than 5 times",
                     kOldRows, "old:1*"},
        DownloadCase{"RedirectLoop", "/loop", "List download failed: the server redirected more than 5 times", kOldRows,
                     "old:1*"}),
    [](const auto& info) { return info.param.name; });

// The server must get back exactly the entry, as one parameter, whatever characters it holds.
TEST_F(ServerExchange, SubmittedEntriesArriveWhole) {
    useServer(server.baseUrl());
    const struct {
        std::string entry;
        std::string query;
    } cases[] = {
        {"10.0.0.1:80", "proxy=10.0.0.1:80"},
        {"10.0.0.1 :80", "proxy=10.0.0.1%20:80"},
        {"a&proxy=forged", "proxy=a%26proxy%3Dforged"},
        {"x=y", "proxy=x%3Dy"},
        {"a#b", "proxy=a%23b"},
        {"100%", "proxy=100%25"},
        {"a+b", "proxy=a%2Bb"},
        {"caf\xC3\xA9:80", "proxy=caf%C3%A9:80"},
        {"[::1]:80", "proxy=%5B::1%5D:80"},
    };
    for (const auto& c : cases) {
        view.typed = {c.entry};
        view.answers = {View::Answer::Yes};
        view.status.clear();

        run(Command::SubmitProxy);

        ASSERT_EQ(view.status, "Thanks, Proxy Submitted !") << c.entry;
        const RecordedRequest request = server.requests().back();
        EXPECT_EQ(request.path, "/Tamberly/addproxy.php");
        EXPECT_EQ(request.query, c.query);
        ASSERT_EQ(request.params.size(), 1u) << c.entry;
        EXPECT_EQ(request.params.begin()->first, "proxy");
        EXPECT_EQ(request.params.begin()->second, c.entry);
    }
}

TEST_F(ServerExchange, ReportsReachTheDeadProxyPage) {
    useServer(server.baseUrl());
    view.rows = {"10.0.0.1:80", "a b&c"};
    view.selected = 1;
    view.answers = {View::Answer::Yes};

    run(Command::ReportDeadProxy);

    EXPECT_EQ(view.status, "Proxy desactivated !");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].target, "/Tamberly/deadproxy.php?proxy=a%20b%26c");
    EXPECT_EQ(server.requests()[0].params.find("proxy")->second, "a b&c");
}

TEST_F(ServerExchange, AnErrorPageIsNeverTakenForSuccess) {
    useServer(server.baseUrl() + "/error500");
    view.selected = 0;
    view.typed = {"10.0.0.1:80"};
    view.answers = {View::Answer::Yes, View::Answer::Yes};

    run(Command::SubmitProxy);
    EXPECT_EQ(view.status, "Proxy not submitted: the server answered 500 Internal Server Error");
    run(Command::ReportDeadProxy);
    EXPECT_EQ(view.status, "Dead proxy not reported: the server answered 500 Internal Server Error");
}

} // namespace
} // namespace tamberly::test
