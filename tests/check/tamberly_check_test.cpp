// tamberly-check as a real process: its input, output lines, exit codes and progress line.
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "support/http_test_server.h"
#include "support/loopback_network.h"
#include "support/temp_dir.h"
#include "support/test_proxy.h"
#ifdef TAMBERLY_HAVE_LISTSERVER
#include "listserver_process.h"
#endif

#include <fcntl.h>
#include <sys/stat.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace tamberly::test {
namespace {

using namespace std::chrono_literals;
using Mode = TestProxy::Mode;

struct CheckRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    std::vector<std::vector<std::string>> lines; // out split into lines and tab-separated fields
};

// Runs the program with stdin from input; stderr goes to a pseudo-terminal when terminal is set.
CheckRun runCheck(const std::vector<std::string>& args, const std::string& input, const TempDir& dir,
                  bool terminal = false) {
    writeFile(dir.file("stdin"), input);
    std::vector<std::string> all = {TAMBERLY_CHECK_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, dir.file("stdin").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, dir.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int master = -1;
    if (terminal) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(master);
        ::unlockpt(master);
        posix_spawn_file_actions_addopen(&actions, 2, ::ptsname(master), O_RDWR | O_NOCTTY, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, dir.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    pid_t pid = -1;
    CheckRun run;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        return run;
    posix_spawn_file_actions_destroy(&actions);
    if (terminal) {
        // Read the terminal while the program runs, so that it never blocks on a full buffer.
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(master, buffer, sizeof buffer)) > 0)
            run.err.append(buffer, static_cast<std::size_t>(n));
        ::close(master);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(dir.file("stdout"));
    if (!terminal)
        run.err = readFile(dir.file("stderr"));
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            fields.push_back(line.substr(start, tab - start));
        fields.push_back(line.substr(start));
        run.lines.push_back(fields);
    }
    return run;
}

struct TamberlyCheckTest : ::testing::Test {
    ScopedUserHome home;
    TempDir dir;
    HttpTestServer target;

    TamberlyCheckTest() {
        target.get("/Tamberly/check.php", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("tamberly-check-ok", "text/plain");
        });
        target.start();
        // A captive portal: the same page of its own for every path.
        portalSite.get(".*", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body>Sign in to the hotel network</body></html>", "text/html");
        });
        portalSite.start();
    }
    std::string url() const { return target.baseUrl() + "/Tamberly/check.php"; }
    HttpTestServer portalSite;
    CheckRun run(std::vector<std::string> args, const std::string& input = {}, bool terminal = false) {
        return runCheck(args, input, dir, terminal);
    }
};

bool isNumber(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

TEST_F(TamberlyCheckTest, PrintsOneLinePerEntryInInputOrder) {
    TestProxy working(Mode::Forward), slow(Mode::Slow, 300ms), refusing(Mode::Refusing), login(Mode::AskLogin);
    // A list text and lines mixed, with blanks and CRLF line ends.
    writeFile(dir.file("list.txt"), slow.entry() + "*" + refusing.entry() + "*\r\n  " + working.entry() +
                                        " \r\nnot-an-entry\n\n" + login.entry() + "\n");
    // A judge that does not answer: no anonymity grade, the tunnel is graded all the same.
    const CheckRun result = run({dir.file("list.txt"), "--url", url(), "--timeout", "2", "--judge",
                                 "http://" + refusing.entry() + "/Tamberly/judge.php", "--tunnel-host", "127.0.0.1"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, ""); // not a terminal: no progress line
    ASSERT_EQ(result.lines.size(), 5u) << result.out;
    const std::vector<std::pair<std::string, std::string>> expected = {{slow.entry(), "works"},
                                                                       {refusing.entry(), "refused"},
                                                                       {working.entry(), "works"},
                                                                       {"not-an-entry", "bad entry"},
                                                                       {login.entry(), "needs password"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(result.lines[i].size(), 5u) << result.out;
        EXPECT_EQ(result.lines[i][0], expected[i].first);
        EXPECT_EQ(result.lines[i][1], expected[i].second);
        EXPECT_TRUE(expected[i].second == "bad entry" ? result.lines[i][2] == "-" : isNumber(result.lines[i][2]))
            << result.lines[i][2];
        EXPECT_EQ(result.lines[i][3], "");
        // The test proxies answer CONNECT with 400.
        EXPECT_EQ(result.lines[i][4], expected[i].second == "works" ? "no tunnel" : "") << result.out;
    }
    EXPECT_GE(std::stol(result.lines[0][2]), 300);

    // --fastest: the working ones only, fastest first.
    const CheckRun fastest =
        run({"--fastest", "5", "--url", url()}, slow.entry() + "\n" + working.entry() + "\n" + refusing.entry() + "\n");
    EXPECT_EQ(fastest.exitCode, 0) << fastest.err;
    ASSERT_EQ(fastest.lines.size(), 2u) << fastest.out;
    EXPECT_EQ(fastest.lines[0][0], working.entry());
    EXPECT_EQ(fastest.lines[1][0], slow.entry());
    const CheckRun one = run({"--fastest", "1", "--url", url(), "-"}, slow.entry() + "*" + working.entry() + "*");
    ASSERT_EQ(one.lines.size(), 1u) << one.out;
    EXPECT_EQ(one.lines[0][0], working.entry());
}

TEST_F(TamberlyCheckTest, ExitsWithOneWhenNothingWorksAndTwoForBadUsage) {
    TestProxy refusing(Mode::Refusing), portal(Mode::OwnPage);
    const CheckRun none = run({"--url", url()}, refusing.entry() + "\n" + portal.entry() + "\n");
    EXPECT_EQ(none.exitCode, 1);
    ASSERT_EQ(none.lines.size(), 2u);
    EXPECT_EQ(none.lines[1][1], "wrong answer");

    // A test URL that fails gives no verdicts at all.
    const CheckRun noTarget = run({"--url", "http://" + refusing.entry() + "/Tamberly/check.php"}, portal.entry());
    EXPECT_EQ(noTarget.exitCode, 1);
    EXPECT_EQ(noTarget.out, "");
    EXPECT_NE(noTarget.err.find("does not answer"), std::string::npos) << noTarget.err;
    EXPECT_EQ(portal.requests(), 1);

    for (const auto& args : std::vector<std::vector<std::string>>{{"--bogus"},
                                                                  {"--fastest"},
                                                                  {"--fastest", "0"},
                                                                  {"--fastest", "two"},
                                                                  {"--timeout", "-1"},
                                                                  {"--parallel", "0"},
                                                                  {"a.txt", "b.txt"},
                                                                  {"--stored", "a.txt"},
                                                                  {"--expect"},
                                                                  {"--judge", "https://list.example/judge.php"},
                                                                  {"--tunnel-host"}}) {
        const CheckRun bad = run(args);
        EXPECT_EQ(bad.exitCode, 2) << args.front();
        EXPECT_NE(bad.err.find("usage: tamberly-check"), std::string::npos);
        EXPECT_EQ(bad.out, "");
    }
    EXPECT_EQ(run({"--help"}).exitCode, 0);
}

TEST_F(TamberlyCheckTest, NoEntriesOrAnUnreadableFileIsOneLineAndExitCodeTwo) {
    ::mkdir(dir.file("folder").c_str(), 0700);
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string message; // the whole of standard error
    };
    for (const Case& c : std::vector<Case>{
             {{"--url", url()}, "", "No proxies to check.\n"},
             {{"--url", url(), "-"}, " \r\n\n*", "No proxies to check.\n"},
             {{"--stored"}, "", "No proxies to check.\n"},
             {{dir.file("missing.txt")},
              "",
              "tamberly-check: cannot read " + dir.file("missing.txt") + ": No such file or directory\n"},
             {{dir.file("folder")}, "", "tamberly-check: cannot read " + dir.file("folder") + ": Is a directory\n"},
         }) {
        const CheckRun result = run(c.args, c.input);
        EXPECT_EQ(result.exitCode, 2) << c.args.back();
        EXPECT_EQ(result.err, c.message);
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(target.requestCount(), 0u);
}

TEST_F(TamberlyCheckTest, NamesUnknownHostsAndAnswersThatBreakHttp) {
    TestProxy working(Mode::Forward), flood(Mode::HeaderFlood), endless(Mode::EndlessHeaders),
        badStatus(Mode::BadStatusLine);
    std::vector<std::pair<std::string, std::string>> expected = {{working.entry(), "works"},
                                                                 {flood.entry(), "wrong answer"},
                                                                 {endless.entry(), "wrong answer"},
                                                                 {badStatus.entry(), "wrong answer"}};
    // Looked up only where no look-up can leave this machine.
    if (loopbackIsolation().empty())
        expected.push_back({"no-such-proxy.invalid:3128", "unknown host"});
    else
        std::cout << "[ NOTE ] a name that does not resolve left out: " << loopbackIsolation() << "\n";
    std::string input;
    for (const auto& [entry, verdict] : expected)
        input += entry + "\n";
    const CheckRun result = run({"--url", url(), "--timeout", "2"}, input);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(result.lines.size(), expected.size()) << result.out;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(result.lines[i][0], expected[i].first);
        EXPECT_EQ(result.lines[i][1], expected[i].second) << expected[i].first;
    }
}

TEST_F(TamberlyCheckTest, TheCheckPageAndExpectNeedTheirTextInTheAnswer) {
    TestProxy working(Mode::Forward), portal(Mode::OwnPage);
    const std::string input = working.entry() + "\n" + portal.entry() + "\n";
    // The list server's check page by default: a list server address that leads to a portal checks nothing.
    ASSERT_EQ(Settings(home.configDir() + "/prefs.ini").setValue("Server", "URL", portalSite.baseUrl()), "");
    const CheckRun portalServer = run({}, input);
    EXPECT_EQ(portalServer.exitCode, 1);
    EXPECT_EQ(portalServer.out, "");
    EXPECT_EQ(portalServer.err, "tamberly-check: the test URL did not answer as a check page\n");
    EXPECT_EQ(working.requests(), 0);

    // A page of the caller's own: any answer will do, unless --expect names a text it must hold.
    const std::string page = portalSite.baseUrl() + "/welcome";
    const CheckRun any = run({"--url", page}, input);
    EXPECT_EQ(any.exitCode, 0) << any.err;
    ASSERT_EQ(any.lines.size(), 2u) << any.out;
    EXPECT_EQ(any.lines[0][1], "works");
    EXPECT_EQ(any.lines[1][1], "wrong answer");
    const CheckRun expecting = run({"--url", page, "--expect", "hotel network"}, input);
    EXPECT_EQ(expecting.exitCode, 0) << expecting.err;
    EXPECT_EQ(expecting.lines.size(), 2u) << expecting.out;
    const CheckRun missing = run({"--url", page, "--expect", "tamberly-check-ok"}, input);
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "tamberly-check: the test URL did not answer as a check page\n");
}

TEST_F(TamberlyCheckTest, StoredReadsTheListAndTestUrlFromTheSettings) {
    TestProxy working(Mode::Forward), refusing(Mode::Refusing);
    const std::string ini = home.configDir() + "/prefs.ini";
    Settings settings(ini);
    ASSERT_EQ(ProxyListStore(settings).save(working.entry() + "*" + refusing.entry() + "*"), "");
    ASSERT_EQ(settings.setValue("Check", "URL", url()), "");
    const CheckRun result = run({"--stored"}, "ignored:1\n");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(result.lines.size(), 2u) << result.out;
    EXPECT_EQ(result.lines[0][0], working.entry());
    EXPECT_EQ(result.lines[0][1], "works");
    EXPECT_EQ(result.lines[1][1], "refused");
}

#ifdef TAMBERLY_HAVE_LISTSERVER
// Graded against the real list server's judge, from its address in prefs.ini; the proxies connect out from
// addresses of their own, so the judge tells them from the user at 127.0.0.1.
TEST_F(TamberlyCheckTest, GradesWorkingEntriesWithTheListServersJudge) {
    ServerProcess server({"--db", dir.file("list.db")});
    Settings settings(home.configDir() + "/prefs.ini");
    ASSERT_EQ(settings.setValue("Server", "URL", "http://127.0.0.1:" + std::to_string(server.port())), "");
    TestProxy transparent(Mode::Transparent), anonymous(Mode::Anonymous), elite(Mode::Elite), refusing(Mode::Refusing);
    const std::string input =
        transparent.entry() + "\n" + anonymous.entry() + "\n" + elite.entry() + "\n" + refusing.entry() + "\n";
    const CheckRun graded = run({}, input);
    EXPECT_EQ(graded.exitCode, 0) << graded.err;
    ASSERT_EQ(graded.lines.size(), 4u) << graded.out;
    const std::vector<std::vector<std::string>> expected = {{"works", "transparent", "no tunnel"},
                                                            {"works", "anonymous", "tunnel"},
                                                            {"works", "elite", "tunnel"},
                                                            {"refused", "", ""}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(graded.lines[i].size(), 5u) << graded.out;
        EXPECT_EQ((std::vector<std::string>{graded.lines[i][1], graded.lines[i][3], graded.lines[i][4]}), expected[i])
            << graded.out;
    }
    EXPECT_EQ(elite.requests(), 3);

    // Without grades: one request per entry, the two columns empty.
    const CheckRun plain = run({"--no-grades"}, elite.entry() + "\n");
    ASSERT_EQ(plain.lines.size(), 1u) << plain.out;
    EXPECT_EQ(plain.lines[0], (std::vector<std::string>{elite.entry(), "works", plain.lines[0][2], "", ""}));
    EXPECT_EQ(elite.requests(), 4);
}
#endif

TEST_F(TamberlyCheckTest, ShowsProgressOnATerminalOnly) {
    TestProxy working(Mode::Forward);
    const CheckRun result = run({"--url", url()}, working.entry() + "\n", true);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.err.find("Checking 1 of 1: 1 work"), std::string::npos) << result.err;
    EXPECT_EQ(result.lines.size(), 1u);
}

} // namespace
} // namespace tamberly::test
