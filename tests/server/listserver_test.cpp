#include "listserver_process.h"
#include "postgres_server.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <functional>
#include <set>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace tamberly::test {
namespace {

const std::string kList = "/Tamberly/update.php";
const std::string kPage = "/Tamberly/index.php";

std::string add(const std::string& entry) {
    return "/Tamberly/addproxy.php?proxy=" + entry;
}

std::string dead(const std::string& entry) {
    return "/Tamberly/deadproxy.php?proxy=" + entry;
}

enum class Backend { Sqlite, Postgres };

void PrintTo(Backend backend, std::ostream* out) {
    *out << (backend == Backend::Sqlite ? "SQLite" : "PostgreSQL");
}

// Every case runs on both databases: a SQLite file, and a fresh database on the test's own PostgreSQL server.
class ListServerTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam() == Backend::Postgres) {
            auto& postgres = PostgresServer::shared();
            ASSERT_EQ(postgres.error(), "");
            m_db = postgres.createDatabase();
            ASSERT_FALSE(m_db.empty());
        }
    }
    bool postgres() const { return GetParam() == Backend::Postgres; }
    /// Runs SQL on the list's database, as an edit by hand would.
    void execute(const std::string& sql) const {
        if (postgres()) {
            ASSERT_EQ(executeSql(m_db, sql), "");
            return;
        }
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(m_db.c_str(), &db), SQLITE_OK);
        const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(db);
        ASSERT_EQ(rc, SQLITE_OK);
    }
    /// The arguments with the test's database; the tests' entries are mostly in private ranges.
    /// The rows of a query on the list's database, columns joined by "|".
    std::vector<std::string> rows(const std::string& sql) const {
        if (postgres())
            return queryRows(m_db, sql);
        std::vector<std::string> out;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(m_db.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_exec(
                db, sql.c_str(),
                [](void* rows, int columns, char** values, char**) {
                    std::string row;
                    for (int c = 0; c < columns; ++c)
                        row += (c ? "|" : "") + std::string(values[c] ? values[c] : "NULL");
                    static_cast<std::vector<std::string>*>(rows)->push_back(row);
                    return 0;
                },
                &out, nullptr);
        }
        sqlite3_close(db);
        return out;
    }
    std::vector<std::string> withDb(std::vector<std::string> args) const {
        args.insert(args.end(), {"--db", m_db, "--allow-private-entries"});
        return args;
    }
    RunResult run(std::vector<std::string> args, const std::string& input = {}) const {
        return runListServer(withDb(std::move(args)), input);
    }
    std::string list(const ServerProcess& server) const {
        const auto answer = get(server, kList);
        EXPECT_EQ(answer.status, 200);
        return answer.body;
    }
    /// Whether the list meets the condition within 3 s: a change made by a subcommand is found by the server's
    /// watch of the database.
    static bool listBecomes(const ServerProcess& server, const std::function<bool(const std::string&)>& wanted) {
        for (int i = 0; i < 60; ++i) {
            if (wanted(get(server, kList).body))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    /// Whether the page shows the text within 3 s: it is rendered again at most once a second.
    static bool pageBecomes(const ServerProcess& server, const std::string& text) {
        for (int i = 0; i < 60; ++i) {
            if (get(server, kPage).body.find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    TempDir m_dir;
    std::string m_db = m_dir.file("list.db");
};

TEST_P(ListServerTest, AddsListsAndWithdrawsReportedProxies) {
    ServerProcess server(withDb({"--dead-after", "1"}));
    EXPECT_EQ(server.firstLine(), "listening on 127.0.0.1:" + std::to_string(server.port()));

    const auto empty = get(server, kList);
    EXPECT_EQ(empty.status, 200);
    EXPECT_EQ(empty.contentType, "text/plain");
    EXPECT_EQ(empty.body, "");

    for (const std::string entry : {"10.0.0.1:80", "Proxy.Example.COM:3128", "%5B2001%3Adb8%3A%3A1%5D:8080"}) {
        const auto answer = get(server, add(entry));
        EXPECT_EQ(answer.status, 200) << entry;
        EXPECT_EQ(answer.body, "OK");
    }
    // Already known, in any case or with leading zeros in the port: still one row.
    EXPECT_EQ(get(server, add("proxy.example.com:03128")).status, 200);
    EXPECT_EQ(get(server, add("10.0.0.1:80")).status, 200);
    EXPECT_EQ(list(server), "10.0.0.1:80*proxy.example.com:3128*[2001:db8::1]:8080*");

    auto client = server.client();
    auto head = client.Head(kList.c_str());
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->body, "");

    // Sent as it is even to a client that accepts compressed answers (as the program's HTTP client does): the
    // library's own compression spent seconds of CPU on a long list.
    client.set_decompress(false);
    auto compressible = client.Get(kList.c_str(), {{"Accept-Encoding", "gzip, deflate, br"}});
    ASSERT_TRUE(compressible);
    EXPECT_FALSE(compressible->has_header("Content-Encoding"));
    EXPECT_EQ(compressible->body, "10.0.0.1:80*proxy.example.com:3128*[2001:db8::1]:8080*");

    EXPECT_EQ(get(server, dead("10.0.0.1:80")).status, 200);
    EXPECT_EQ(list(server), "proxy.example.com:3128*[2001:db8::1]:8080*");
    EXPECT_EQ(get(server, dead("10.0.0.1:80")).status, 200) << "a withdrawn entry is still known";
    EXPECT_EQ(get(server, dead("10.9.9.9:1")).status, 404);
    EXPECT_EQ(get(server, dead("10.0.0.1")).status, 400);

    // A proxy that came back to life can be submitted again; it goes to the end of the list.
    EXPECT_EQ(get(server, add("10.0.0.1:80")).status, 200);
    EXPECT_EQ(list(server), "proxy.example.com:3128*[2001:db8::1]:8080*10.0.0.1:80*");

    const auto page = get(server, kPage);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.contentType, "text/html; charset=utf-8");
    EXPECT_NE(page.body.find("<td>proxy.example.com:3128</td>"), std::string::npos);
    EXPECT_NE(page.body.find("3 proxies are on the list"), std::string::npos);
    EXPECT_NE(page.body.find("addproxy.php"), std::string::npos);

    EXPECT_EQ(server.stop(SIGTERM), 0);
    const auto log = server.log();
    EXPECT_NE(log.find("\"GET /Tamberly/addproxy.php?proxy=10.0.0.1:80 HTTP/1.1\" 200 2\n"), std::string::npos);
    EXPECT_NE(log.find("\"GET /Tamberly/deadproxy.php?proxy=10.9.9.9:1 HTTP/1.1\" 404"), std::string::npos);
}

// Reports count once per reporter: an IPv4 address or an IPv6 /64, taken from X-Forwarded-For only when the peer is a
// trusted proxy. One client reporting again and again withdraws nothing; three reporters do.
TEST_P(ListServerTest, WithdrawsOnceDistinctReportersReportedIt) {
    ServerProcess server(withDb({"--trust-proxy", "127.0.0.0/8", "--dead-after", "4"}));
    ServerProcess untrusting(withDb({"--trust-proxy", "10.9.9.9"}));
    get(server, add("10.0.0.1:80"));
    get(server, add("10.0.0.2:80"));
    struct Report {
        std::string forwardedFor; // empty: the peer, 127.0.0.1, reports
        int times;
        std::string listAfter;
    };
    const Report reports[] = {
        {"", 10, "10.0.0.1:80*10.0.0.2:80*"},
        {"198.51.100.7", 10, "10.0.0.1:80*10.0.0.2:80*"},
        // A third reporter, then the same /64 again from another address of it.
        {"2001:db8:1:2::1", 1, "10.0.0.1:80*10.0.0.2:80*"},
        {"2001:db8:1:2::99", 3, "10.0.0.1:80*10.0.0.2:80*"},
        // Walked from the right: the trusted hop is skipped, the made-up one on the left is not reached.
        {"203.0.113.99, 198.51.100.8, 127.0.0.5", 1, "10.0.0.2:80*"},
    };
    for (const auto& report : reports) {
        SCOPED_TRACE("X-Forwarded-For: " + report.forwardedFor);
        auto http = server.client();
        for (int i = 0; i < report.times; ++i) {
            auto answer = report.forwardedFor.empty()
                              ? http.Get(dead("10.0.0.1:80"))
                              : http.Get(dead("10.0.0.1:80"), {{"X-Forwarded-For", report.forwardedFor}});
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer->status, 200);
        }
        EXPECT_EQ(list(server), report.listAfter);
    }
    // From a peer that is not trusted the header counts for nothing: ten made-up reporters are one.
    ASSERT_TRUE(listBecomes(untrusting, [](const std::string& list) { return list == "10.0.0.2:80*"; }));
    auto http = untrusting.client();
    for (int i = 0; i < 10; ++i)
        http.Get(dead("10.0.0.2:80"), {{"X-Forwarded-For", "198.51.100." + std::to_string(i)}});
    EXPECT_EQ(list(untrusting), "10.0.0.2:80*");

    // The database keeps keyed hashes of the reporters, never an address; the key lives apart from it.
    const auto reporters = rows("SELECT reporter FROM reports");
    EXPECT_FALSE(reporters.empty());
    for (const auto& reporter : reporters)
        EXPECT_EQ(reporter.find_first_not_of("0123456789abcdef"), std::string::npos) << reporter;
    if (!postgres()) {
        const auto key = std::filesystem::status(m_db + ".reporter-secret");
        EXPECT_EQ(key.permissions(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }

    // The withdrawn entry is listed by withdrawn and restored by approve, in its place.
    EXPECT_EQ(run({"withdrawn"}).out, "10.0.0.1:80\n");
    EXPECT_EQ(run({"approve", "10.0.0.1:80"}).exitCode, 0);
    EXPECT_EQ(run({"withdrawn"}).out, "");
    EXPECT_TRUE(listBecomes(server, [](const std::string& list) { return list == "10.0.0.1:80*10.0.0.2:80*"; }));

    EXPECT_EQ(server.stop(SIGTERM), 0);
    const auto log = server.log();
    EXPECT_NE(log.find("\n198.51.100.8 - - ["), std::string::npos) << "the log shows the address that counted";
    EXPECT_NE(log.find("\n127.0.0.1 - - ["), std::string::npos);
    EXPECT_EQ(log.find("203.0.113.99 - - ["), std::string::npos);
    EXPECT_EQ(untrusting.stop(SIGTERM), 0);
    EXPECT_EQ(untrusting.log().find("198.51.100."), std::string::npos);
}

// A report counts for --report-window; an older one no longer does.
TEST_P(ListServerTest, ReportsCountWithinTheirWindow) {
    // A window long enough that the two later reports fall inside it even on a slow machine (sanitizers, a busy
    // database); the first is let pass it.
    ServerProcess server(withDb({"--trust-proxy", "127.0.0.1", "--dead-after", "2", "--report-window", "4s"}));
    get(server, add("10.0.0.1:80"));
    auto http = server.client();
    http.Get(dead("10.0.0.1:80"), {{"X-Forwarded-For", "198.51.100.1"}});
    std::this_thread::sleep_for(std::chrono::milliseconds(4100));
    http.Get(dead("10.0.0.1:80"), {{"X-Forwarded-For", "198.51.100.2"}});
    EXPECT_EQ(list(server), "10.0.0.1:80*") << "the first report had passed its window";
    http.Get(dead("10.0.0.1:80"), {{"X-Forwarded-For", "198.51.100.3"}});
    EXPECT_EQ(list(server), "");
}

TEST_P(ListServerTest, ModeratedEntriesWaitForApproval) {
    ServerProcess server(withDb({"--moderate", "--max-pending", "2"}));
    EXPECT_EQ(get(server, add("10.0.0.1:80")).status, 200);
    EXPECT_EQ(get(server, add("Waiting.Example:8080")).status, 200);
    // At the cap of waiting entries a new one is turned away; one already waiting is still "OK".
    auto full = server.client().Get(add("10.0.0.3:80"));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->status, 503);
    EXPECT_EQ(full->get_header_value("Retry-After"), "3600");
    EXPECT_EQ(full->body, "too many proxies are waiting for approval; try again later");
    EXPECT_EQ(get(server, add("10.0.0.1:80")).status, 200);
    EXPECT_EQ(list(server), "");
    EXPECT_EQ(get(server, dead("10.0.0.1:80")).status, 404) << "a waiting entry is not on the list";

    const auto pending = run({"pending"});
    EXPECT_EQ(pending.exitCode, 0);
    EXPECT_EQ(pending.out, "10.0.0.1:80\nwaiting.example:8080\n");

    // Approved while the server runs, from another process.
    const auto approved = run({"approve", "WAITING.example:8080"});
    EXPECT_EQ(approved.exitCode, 0) << approved.err;
    EXPECT_EQ(approved.out, "waiting.example:8080 is now on the list\n");
    EXPECT_TRUE(listBecomes(server, [](const std::string& list) { return list == "waiting.example:8080*"; }));
    EXPECT_TRUE(pageBecomes(server, "waiting.example:8080"));
    EXPECT_EQ(run({"pending"}).out, "10.0.0.1:80\n");

    EXPECT_EQ(run({"approve", "waiting.example:8080"}).exitCode, 0);
    const auto unknown = run({"approve", "10.7.7.7:80"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("10.7.7.7:80 is not known"), std::string::npos);
    const auto invalid = run({"approve", "no-port"});
    EXPECT_EQ(invalid.exitCode, 1);
    EXPECT_NE(invalid.err.find("invalid proxy entry"), std::string::npos);

    EXPECT_EQ(run({"remove", "10.0.0.1:80"}).exitCode, 0);
    EXPECT_EQ(run({"pending"}).out, "");
    EXPECT_EQ(run({"remove", "10.0.0.1:80"}).exitCode, 1);
    EXPECT_EQ(run({"remove", "waiting.example:8080"}).out, "removed waiting.example:8080\n");
    EXPECT_TRUE(listBecomes(server, [](const std::string& list) { return list.empty(); }));
}

TEST_P(ListServerTest, ImportsListTextOrLinesAndExportsTheList) {
    writeFile(m_dir.file("list.txt"), "10.0.0.1:80*10.0.0.2:3128*\r\n  Host.Example:8080 \n\n[2001:DB8::1]:443\n"
                                      "10.0.0.1:80\n");
    const auto imported = run({"import", m_dir.file("list.txt")});
    EXPECT_EQ(imported.exitCode, 0) << imported.err;
    EXPECT_EQ(imported.out, "imported 4 entries: 4 new, 0 published again, 0 already on the list\n");
    const std::string expected = "10.0.0.1:80*10.0.0.2:3128*host.example:8080*[2001:db8::1]:443*";
    EXPECT_EQ(run({"export"}).out, expected);

    // One bad entry and nothing is imported.
    writeFile(m_dir.file("bad.txt"), "10.0.0.9:80\n<script>:80\n10.0.0.10:80\n10.0.0.11\n");
    const auto refused = run({"import", m_dir.file("bad.txt")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("bad.txt:2: host name is not valid"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("bad.txt:4: proxy entry must be host:port"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("nothing was imported"), std::string::npos);
    EXPECT_EQ(run({"export"}).out, expected);

    const auto missing = run({"import", m_dir.file("absent.txt")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos);

    // Standard input; a withdrawn entry comes back at the end.
    {
        ServerProcess server(withDb({"--dead-after", "1"}));
        get(server, dead("10.0.0.1:80"));
        EXPECT_EQ(list(server), "10.0.0.2:3128*host.example:8080*[2001:db8::1]:443*");
    }
    const auto fromInput = run({"import", "-"}, "10.0.0.1:80*10.0.0.2:3128*10.0.0.3:80*");
    EXPECT_EQ(fromInput.exitCode, 0) << fromInput.err;
    EXPECT_EQ(fromInput.out, "imported 3 entries: 1 new, 1 published again, 1 already on the list\n");
    EXPECT_EQ(run({"export"}).out, "10.0.0.2:3128*host.example:8080*[2001:db8::1]:443*10.0.0.1:80*10.0.0.3:80*");

    ServerProcess server(withDb({}));
    EXPECT_EQ(list(server), run({"export"}).out);
}

TEST_P(ListServerTest, KeepsEverythingAcrossARestart) {
    const std::vector<std::string> args = {"--dead-after", "2", "--trust-proxy", "127.0.0.1"};
    const httplib::Headers first{{"X-Forwarded-For", "198.51.100.1"}};
    const httplib::Headers second{{"X-Forwarded-For", "198.51.100.2"}};
    {
        auto moderated = args;
        moderated.push_back("--moderate");
        ServerProcess server(withDb(moderated));
        get(server, add("10.0.0.1:80"));
        get(server, add("10.0.0.2:80"));
        ASSERT_EQ(run({"approve", "10.0.0.1:80"}).exitCode, 0);
        EXPECT_TRUE(listBecomes(server, [](const std::string& list) { return list == "10.0.0.1:80*"; }));
        EXPECT_EQ(server.client().Get(dead("10.0.0.1:80"), first)->status, 200);
        EXPECT_EQ(server.stop(SIGINT), 0);
    }
    ServerProcess server(withDb(args));
    EXPECT_EQ(list(server), "10.0.0.1:80*");
    EXPECT_NE(get(server, kPage).body.find("<td>10.0.0.1:80</td><td>"), std::string::npos);
    EXPECT_NE(get(server, kPage).body.find("</td><td>1</td></tr>"), std::string::npos);
    EXPECT_EQ(run({"pending"}).out, "10.0.0.2:80\n");
    // The reporter from before the restart is still known: a repeat does not count, a second reporter does.
    server.client().Get(dead("10.0.0.1:80"), first);
    EXPECT_EQ(list(server), "10.0.0.1:80*");
    server.client().Get(dead("10.0.0.1:80"), second);
    EXPECT_EQ(list(server), "");
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

TEST_P(ListServerTest, HostileInputsAreRefusedAndHarmNothing) {
    ServerProcess server(withDb({"--write-rate", "off"}));
    get(server, add("10.0.0.1:80"));
    const std::string longEntry(4000, 'a');

    struct Case {
        std::string target;
        int status;
    };
    const Case cases[] = {
        {add("%3Cscript%3Ealert(1)%3C/script%3E:80"), 400},
        {add("%3Cscript%3E"), 400},
        {add("x%27);DROP%20TABLE%20proxies;--:80"), 400},
        {add("10.0.0.1%27%20OR%20%271%27=%271:80"), 400},
        {add("10.0.0.2:80%00"), 400},
        {add("%00"), 400},
        {add("%FF%FE%FD:80"), 400},
        {add("%C3%A9.example:80"), 400},
        {add("10.0.0.3:80%2A10.0.0.4:80"), 400},
        {add("10.0.0.3:80%0D%0A10.0.0.4:80"), 400},
        {add(""), 400},
        {add(longEntry + ":80"), 400},
        {add(std::string(10000, 'a') + ":80"), 414},
        {"/Tamberly/addproxy.php", 400},
        {"/Tamberly/addproxy.php?other=10.0.0.5:80", 400},
        {"/Tamberly/addproxy.php?proxy=10.0.0.5:80&proxy=10.0.0.6:80", 400},
        {"/Tamberly/deadproxy.php", 400},
        {dead("%3Cscript%3E"), 400},
        {dead("10.0.0.1:80%00"), 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target.substr(0, 120));
        const auto answer = get(server, c.target);
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(answer.contentType, "text/plain");
        if (c.status == 400) {
            EXPECT_FALSE(answer.body.empty());
            EXPECT_EQ(answer.body.find('\n'), std::string::npos) << "one line";
        }
    }

    EXPECT_EQ(list(server), "10.0.0.1:80*");
    const auto page = get(server, kPage);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body.find("<script"), std::string::npos);
    EXPECT_EQ(page.body.find("DROP"), std::string::npos);
    EXPECT_EQ(server.stop(SIGTERM), 0);
    // The log stays one line per request, whatever the request held.
    const auto log = server.log();
    EXPECT_EQ(log.find('\0'), std::string::npos);
    EXPECT_EQ(log.find("\r"), std::string::npos);
    EXPECT_NE(log.find("\"GET /Tamberly/addproxy.php?proxy=%00 HTTP/1.1\" 400"), std::string::npos);

    EXPECT_EQ(run({"export"}).out, "10.0.0.1:80*");
}

// A database edited by hand can hold anything; the page escapes it and the list leaves it out.
TEST_P(ListServerTest, EscapesStoredValuesOnThePage) {
    ASSERT_EQ(run({"import", "-"}, "10.0.0.1:80*").exitCode, 0);
    execute("INSERT INTO proxies (entry, state, position, added_at, reports) VALUES "
            "('<script>alert(\"x\")</script>&''*:80', 'published', 100, 0, 0)");

    ServerProcess server(withDb({}));
    EXPECT_EQ(list(server), "10.0.0.1:80*");
    const auto page = get(server, kPage);
    EXPECT_EQ(page.body.find("<script"), std::string::npos);
    EXPECT_NE(page.body.find("<td>&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;&#39;*:80</td>"),
              std::string::npos)
        << page.body;

    const auto removed = run({"remove", "<script>alert(\"x\")</script>&'*:80"});
    EXPECT_EQ(removed.exitCode, 0) << removed.err;
    EXPECT_TRUE(pageBecomes(server, "1 proxy is on the list"));
    EXPECT_EQ(get(server, kPage).body.find("script"), std::string::npos);
}

// The list's own address leads to the page. The page's form gets a page with the outcome and the way back; the
// program's own request, which never sends the form's field, still gets its one word.
TEST_P(ListServerTest, LeadsToThePageAndAnswersItsFormWithAPage) {
    ServerProcess server(withDb({}));
    auto client = server.client();
    for (const std::string path : {"/", "/Tamberly", "/Tamberly/", "/?x=1"}) {
        for (const bool head : {false, true}) {
            const auto answer = head ? client.Head(path) : client.Get(path);
            ASSERT_TRUE(answer) << path;
            EXPECT_EQ(answer->status, 302) << path;
            EXPECT_EQ(answer->get_header_value("Location"), kPage) << path;
        }
    }

    const std::string form = "/Tamberly/addproxy.php?from=page&proxy=";
    struct Case {
        std::string target;
        int status;
        std::string outcome; // the answer's paragraph, as HTML
    };
    const Case cases[] = {
        {form + "Form.Example:8080", 200, "form.example:8080 was added to the list."},
        {form + "form.example:8080", 200, "form.example:8080 was sent before: nothing was changed."},
        {form + "10.0.0.1", 400, "&quot;10.0.0.1&quot; is not a proxy address: "},
        {form + "%3Cb%3Ex%3C%2Fb%3E:80", 400, "&quot;&lt;b&gt;x&lt;/b&gt;:80&quot; is not a proxy address: "},
        {"/Tamberly/addproxy.php?from=page", 400, "No proxy was sent."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const auto answer = get(server, c.target);
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(answer.contentType, "text/html; charset=utf-8");
        EXPECT_NE(answer.body.find("<p>" + c.outcome), std::string::npos) << answer.body;
        EXPECT_NE(answer.body.find("<a href=\"index.php\">Back to the proxy list</a>"), std::string::npos);
        EXPECT_EQ(answer.body.find("<b>"), std::string::npos);
    }
    for (const std::string& target : {add("10.0.0.9:80"), add("10.0.0.9:80") + "&from=elsewhere"}) {
        const auto answer = get(server, target);
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.contentType, "text/plain");
        EXPECT_EQ(answer.body, "OK");
    }
    EXPECT_EQ(list(server), "form.example:8080*10.0.0.9:80*");
    EXPECT_NE(get(server, kPage).body.find("<input type=\"hidden\" name=\"from\" value=\"page\">"), std::string::npos);

    ServerProcess moderated(withDb({"--moderate"}));
    EXPECT_NE(get(moderated, form + "10.0.0.2:80")
                  .body.find("<p>10.0.0.2:80 was received. It appears on the list once the list&#39;s keeper has "
                             "approved it.</p>"),
              std::string::npos);
}

TEST_P(ListServerTest, AnswersOtherPathsMethodsAndLongRequestsWithErrors) {
    ServerProcess server(withDb({}));
    for (const std::string path : {"/index.php", "/Tamberly/other.php", "/Tamberly/update.php/x",
                                   "/tamberly/update.php", "/Tamberly/../Tamberly/update.php"})
        EXPECT_EQ(get(server, path).status, 404) << path;

    auto client = server.client();
    auto post = client.Post(kList.c_str(), "proxy=10.0.0.1:80", "application/x-www-form-urlencoded");
    ASSERT_TRUE(post);
    EXPECT_EQ(post->status, 405);
    EXPECT_EQ(post->get_header_value("Allow"), "GET, HEAD");
    for (const char* method : {"PUT", "DELETE", "PATCH", "OPTIONS", "TRACE", "BREW"}) {
        httplib::Request request;
        request.method = method;
        request.path = add("10.0.0.1:80");
        auto result = client.send(request);
        ASSERT_TRUE(result) << method;
        EXPECT_EQ(result->status, 405) << method;
    }
    auto big = client.Post(kList.c_str(), std::string(100000, 'x'), "text/plain");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->status, 413);

    EXPECT_EQ(get(server, kList + "?" + std::string(8300, 'q')).status, 414);
    EXPECT_EQ(get(server, kList + "?" + std::string(8000, 'q')).status, 200);
    EXPECT_EQ(list(server), "") << "nothing was added by the refused requests";
}

TEST_P(ListServerTest, AnswersTheProxyChecksTestUrlWithoutTheDatabase) {
    ServerProcess server(withDb({}));
    // On SQLite, locked by another writer: a request that needed the database could not answer at once.
    sqlite3* db = nullptr;
    if (!postgres()) {
        ASSERT_EQ(sqlite3_open(m_db.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    }

    auto client = server.client();
    for (int i = 0; i < 2; ++i) {
        auto answer = client.Get("/Tamberly/check.php");
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, 200);
        EXPECT_EQ(answer->body, "tamberly-check-ok");
        EXPECT_EQ(answer->get_header_value("Content-Type").rfind("text/plain", 0), 0u);
        EXPECT_EQ(answer->get_header_value("Cache-Control"), "no-store");
    }
    EXPECT_EQ(get(server, "/Tamberly/check.php?x=1").body, "tamberly-check-ok");
    EXPECT_EQ(get(server, "/Tamberly/check.php/x").status, 404);
    if (db) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
}

TEST_P(ListServerTest, StaysConsistentUnderConcurrentClients) {
    ServerProcess server(withDb({"--dead-after", "4", "--write-rate", "off", "--trust-proxy", "127.0.0.1"}));
    constexpr int kThreads = 8;
    constexpr int kPerThread = 25;
    get(server, add("10.1.1.1:80"));
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads + 1, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            auto client = server.client();
            client.set_keep_alive(true);
            for (int i = 0; i < kPerThread; ++i) {
                const auto target = add("10.0." + std::to_string(t) + "." + std::to_string(i + 1) + ":80");
                auto result = client.Get(target.c_str());
                if (!result || result->status != 200)
                    ++failures[t];
                // Each thread a reporter of its own, so the fourth to report withdraws the entry.
                auto report = client.Get(dead("10.1.1.1:80"), {{"X-Forwarded-For", "198.51.100." + std::to_string(t)}});
                if (!report || report->status != 200)
                    ++failures[t];
            }
        });
    }
    threads.emplace_back([&] {
        auto client = server.client();
        client.set_keep_alive(true);
        for (int i = 0; i < 100; ++i) {
            auto result = client.Get(kList.c_str());
            if (!result || result->status != 200 || (!result->body.empty() && result->body.back() != '*'))
                ++failures[kThreads];
        }
    });
    for (auto& thread : threads)
        thread.join();
    for (int f : failures)
        EXPECT_EQ(f, 0);

    const std::string text = list(server);
    std::set<std::string> entries;
    std::size_t count = 0;
    for (std::size_t start = 0, star; (star = text.find('*', start)) != std::string::npos; start = star + 1) {
        entries.insert(text.substr(start, star - start));
        ++count;
    }
    EXPECT_EQ(count, static_cast<std::size_t>(kThreads * kPerThread));
    EXPECT_EQ(entries.size(), count);
    EXPECT_EQ(entries.count("10.1.1.1:80"), 0u);
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

TEST_P(ListServerTest, RefusesBadUsageWithAMessage) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
    };
    writeFile(m_dir.file("not-a-db"), std::string(4096, 'x'));
    // Another program's database: a file, or a PostgreSQL database with a table of its own.
    std::string other = m_dir.file("other.db");
    if (postgres()) {
        other = PostgresServer::shared().createDatabase();
        ASSERT_EQ(executeSql(other, "CREATE TABLE notes (text TEXT)"), "");
    } else {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes (text TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    std::vector<Case> cases = {
        {{"bogus"}, 2, "unknown command 'bogus'"},
        {{"--bogus"}, 2, "unknown option --bogus"},
        {{"--listen", "nohost"}, 2, "--listen wants HOST:PORT"},
        {{"--listen", "127.0.0.1:70000"}, 2, "--listen wants HOST:PORT"},
        {{"--listen"}, 2, "--listen needs a value"},
        {{"--dead-after", "0"}, 2, "--dead-after wants a number"},
        {{"--dead-after=x"}, 2, "--dead-after wants a number"},
        {{"--threads", "0"}, 2, "--threads wants a number"},
        {{"--moderate=yes"}, 2, "--moderate takes no value"},
        {{"export", "--moderate"}, 2, "--moderate applies only to serve"},
        {{"import"}, 2, "import needs a FILE"},
        {{"approve"}, 2, "approve needs an ENTRY"},
        {{"serve", "extra"}, 2, "unexpected argument 'extra'"},
        {{"export", "--db", m_dir.file("not-a-db")}, 1, "not a database"},
        {{"export", "--db", other}, 1, "not a Tamberly list database"},
        {{"serve", "--db", other}, 1, "not a Tamberly list database"},
        {{"export", "--db", m_dir.path()}, 1, "cannot open database"},
    };
    writeFile(m_dir.file("not-a-key"), "secret\n");
    cases.push_back({{"serve", "--db", m_dir.file("list.db"), "--reporter-secret", m_dir.file("not-a-key")},
                     1,
                     "reporter secret " + m_dir.file("not-a-key") + ": does not hold a key"});
    cases.push_back({{"serve", "--db", m_dir.file("list.db"), "--reporter-secret", m_dir.file("no/such/folder")},
                     1,
                     "cannot create it"});
    cases.push_back({{"--write-rate", "20"}, 2, "--write-rate wants BURST/SECONDS"});
    cases.push_back({{"--trust-proxy", "10.0.0.0/33"}, 2, "--trust-proxy wants an address"});
    cases.push_back({{"--report-window", "1w"}, 2, "--report-window wants a time"});
    cases.push_back({{"export", "--write-rate", "off"}, 2, "--write-rate applies only to serve"});
    if (postgres()) {
        cases.push_back({{"serve", "--db", PostgresServer::shared().createDatabase()}, 1, "needs --reporter-secret"});
        const std::string absent =
            "postgresql://tamberly@127.0.0.1:" + std::to_string(PostgresServer::shared().port()) + "/absent";
        cases.push_back({{"export", "--db", absent}, 1, "cannot connect to the PostgreSQL database"});
        cases.push_back({{"pending", "--db", "host=127.0.0.1 port=1 user=tamberly"}, 1, "cannot connect"});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const auto result = runListServer(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(readFile(m_dir.file("not-a-db")), std::string(4096, 'x')) << "a foreign file is left alone";
    if (postgres()) {
        EXPECT_EQ(executeSql(other, "SELECT text FROM notes"), "") << "a foreign database is left alone";
    }

    const auto help = runListServer({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: tamberly-listserver", 0), 0u);
}

TEST_P(ListServerTest, CannotListenOnAPortInUse) {
    ServerProcess first(withDb({}));
    const auto second =
        run({"--listen", "127.0.0.1:" + std::to_string(first.port()), "--reporter-secret", m_dir.file("secret")});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("cannot listen on 127.0.0.1:" + std::to_string(first.port())), std::string::npos);
    EXPECT_EQ(second.out, "");
}

// The list serves the public: entries that cannot be a proxy out there are refused with the fault named, and an
// IPv4-mapped IPv6 address is its IPv4 address. A LAN's list (--allow-private-entries) takes its own ranges.
TEST_P(ListServerTest, RefusesEntriesThatCannotBeProxies) {
    ServerProcess server({"--db", m_db, "--write-rate", "off"});
    ServerProcess lan({"--db", m_db, "--write-rate", "off", "--allow-private-entries"});
    struct Case {
        std::string entry;
        std::string publicReason; // empty: taken
        bool lanTakes;
    };
    const Case cases[] = {
        {"0.0.0.0:80", "unspecified address", false},
        {"0.1.2.3:80", "unspecified address", false},
        {"255.255.255.255:80", "broadcast address", false},
        {"224.0.0.1:80", "multicast address", false},
        {"240.0.0.1:80", "reserved address", false},
        {"%5B::%5D:80", "unspecified address", false},
        {"%5Bff02::1%5D:80", "multicast address", false},
        {"127.0.0.1:8642", "loopback address", true},
        {"localhost:8642", "localhost", true},
        {"printer.localhost:80", "localhost", true},
        {"%5B::1%5D:80", "loopback address", true},
        {"%5B::ffff:127.0.0.1%5D:80", "loopback address", true},
        {"10.1.2.3:80", "private address", true},
        {"172.16.0.1:80", "private address", true},
        {"192.168.1.1:80", "private address", true},
        {"169.254.1.1:80", "link-local address", true},
        {"100.64.0.1:80", "shared address", true},
        {"%5Bfe80::1%5D:80", "link-local address", true},
        {"%5Bfd00::1%5D:80", "private address", true},
        {"socks5://a.b:80", "without a scheme", false},
        {"http://203.0.113.5:80", "without a scheme", false},
        {"a*b:80", "cannot hold \"*\"", false},
        {"172.32.0.1:80", "", true},
        {"203.0.113.5:80", "", true},
        {"%5B::ffff:203.0.113.5%5D:80", "", true},
        {"%5B2001:db8::5%5D:80", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        const auto answer = get(server, add(c.entry));
        EXPECT_EQ(answer.status, c.publicReason.empty() ? 200 : 400);
        EXPECT_NE(answer.body.find(c.publicReason.empty() ? "OK" : c.publicReason), std::string::npos) << answer.body;
        EXPECT_EQ(get(lan, add(c.entry)).status, c.lanTakes ? 200 : 400);
    }
    // One proxy, one row: the mapped form was stored as the IPv4 address it names.
    EXPECT_EQ(list(server), "172.32.0.1:80*203.0.113.5:80*[2001:db8::5]:80*");
    EXPECT_EQ(runListServer({"export", "--db", m_db}).out, "172.32.0.1:80*203.0.113.5:80*[2001:db8::5]:80*");
    // The LAN's entries stay in the database; a public list leaves them out, and withdrawn says why.
    const auto left = runListServer({"withdrawn", "--db", m_db}).out;
    EXPECT_NE(left.find("127.0.0.1:8642\tleft out of the list: a loopback address"), std::string::npos) << left;
    EXPECT_NE(left.find("[fd00::1]:80\tleft out of the list: a private address"), std::string::npos) << left;
    ASSERT_EQ(runListServer({"import", "-", "--db", m_db}, "203.0.113.9:80\n10.0.0.9:80\n").exitCode, 1);
    EXPECT_EQ(runListServer({"import", "-", "--db", m_db, "--allow-private-entries"}, "10.0.0.9:80\n").exitCode, 0);
}

// One client cannot flood the list with writes: past a burst, 429 with Retry-After and a reason, while the list, the
// proxy check's URL and the page keep answering, other clients write on, and subcommands are never limited.
TEST_P(ListServerTest, LimitsWritesPerClientButNeverTheList) {
    ServerProcess server({"--db", m_db, "--trust-proxy", "127.0.0.1"});
    auto http = server.client();
    http.set_keep_alive(true);
    const httplib::Headers flooder{{"X-Forwarded-For", "198.51.100.1"}};
    int accepted = 0;
    int limited = 0;
    for (int i = 0; i < 300; ++i) {
        const std::string entry = "203.0." + std::to_string(113 + i / 250) + "." + std::to_string(i % 250 + 1) + ":80";
        auto answer = http.Get(i % 2 ? add(entry) : dead(entry), flooder);
        ASSERT_TRUE(answer);
        if (answer->status == 429) {
            if (limited++ == 0) {
                EXPECT_GE(std::stoi(answer->get_header_value("Retry-After")), 1);
                EXPECT_NE(answer->body.find("too many submissions and reports"), std::string::npos);
                EXPECT_EQ(answer->body.find('\n'), std::string::npos);
            }
        } else {
            ++accepted;
        }
        if (i % 50 == 0) {
            for (const auto& path : {kList, std::string("/Tamberly/check.php"), kPage})
                EXPECT_EQ(http.Get(path, flooder)->status, 200) << path;
        }
    }
    EXPECT_GE(accepted, 20);
    EXPECT_LE(accepted, 30) << "a burst of 20 and one every 2 s";
    EXPECT_GE(limited, 270);
    EXPECT_EQ(http.Get(add("203.0.114.1:80"), {{"X-Forwarded-For", "198.51.100.2"}})->status, 200);
    std::string many;
    for (int i = 1; i <= 300; ++i)
        many += "203.0.115." + std::to_string(i % 250 + 1) + ":" + std::to_string(8000 + i) + "\n";
    const auto imported = run({"import", "-"}, many);
    EXPECT_EQ(imported.exitCode, 0) << imported.err;
    EXPECT_TRUE(listBecomes(
        server, [](const std::string& list) { return list.find("203.0.115.51:8300*") != std::string::npos; }));
}

// Connections that wait for a body are evicted at the cap like idle ones, so they cannot lock the list away; and
// one address holds at most its share of connections.
TEST_P(ListServerTest, HeldConnectionsDoNotLockOthersOut) {
    {
        ServerProcess server(
            withDb({"--threads", "1", "--max-connections", "20", "--max-connections-per-client", "1000"}));
        std::vector<std::unique_ptr<RawClient>> held;
        for (int i = 0; i < 20; ++i) {
            held.push_back(std::make_unique<RawClient>(server.port()));
            ASSERT_TRUE(
                held.back()->send("POST /Tamberly/addproxy.php HTTP/1.1\r\nHost: x\r\nContent-Length: 4000\r\n\r\n"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(get(server, kList).status, 200);
        int evicted = 0;
        for (auto& client : held)
            evicted += client->closedByServer();
        EXPECT_GE(evicted, 1);
    }
    ServerProcess server(withDb({"--max-connections-per-client", "3"}));
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 3; ++i)
        idle.push_back(std::make_unique<RawClient>(server.port()));
    RawClient beyond(server.port());
    beyond.send("GET /Tamberly/update.php HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(beyond.receiveAll(), "") << "the fourth connection of one address is closed unanswered";
    EXPECT_NE(server.log().find("127.0.0.1 refused: over 3 connections from one client (1 connection refused"),
              std::string::npos)
        << server.log();
    idle.pop_back();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(get(server, kList).status, 200);
}

// Raw requests as RFC 9112 has a server read them: each gets exactly one answer with the status, and the connection
// is closed where the framing cannot be trusted.
TEST_P(ListServerTest, ReadsRequestsAsHttpRequires) {
    ServerProcess server(withDb({}));
    const std::string list = "/Tamberly/update.php HTTP/1.1\r\nHost: x\r\n";
    const std::string next = "GET /Tamberly/update.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    struct Case {
        std::string name;
        std::string request;
        std::string status;
    };
    const Case cases[] = {
        {"empty lines first", "\r\n\r\n\nGET " + list + "Connection: close\r\n\r\n", "200"},
        {"absolute form", "GET http://x:8642/Tamberly/update.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
         "200"},
        {"absolute form, no path", "GET HTTP://x HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "302"},
        {"HTTP/1.0 without Host", "GET /Tamberly/update.php HTTP/1.0\r\n\r\n", "200"},
        {"HTTP/1.1 without Host", "GET /Tamberly/update.php HTTP/1.1\r\n\r\n" + next, "400"},
        {"two Host fields", "GET " + list + "Host: y\r\n\r\n" + next, "400"},
        {"a coding other than chunked", "POST " + list + "Transfer-Encoding: gzip\r\n\r\n" + next, "400"},
        {"chunked not last", "POST " + list + "Transfer-Encoding: chunked, gzip\r\n\r\n" + next, "400"},
        {"chunked twice", "POST " + list + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n" + next,
         "400"},
        {"chunked and a length",
         "POST " + list + "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n" + next, "400"},
        {"a chunk size that overflows",
         "POST " + list + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFFF\r\n" + next, "400"},
        {"a body on GET", "GET " + list + "Content-Length: 4000\r\n\r\n", "400"},
        {"a chunked body on HEAD", "HEAD " + list + "Transfer-Encoding: chunked\r\n\r\n", "400"},
        {"a chunked body on POST",
         "POST " + list +
             "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
             "3\r\nabc\r\n0\r\n\r\n",
         "405"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawClient raw(server.port());
        ASSERT_TRUE(raw.send(c.request));
        const std::string answers = raw.receiveAll(); // returns once the server closes
        EXPECT_EQ(answers.rfind("HTTP/1.1 " + c.status + " ", 0), 0u) << answers;
        EXPECT_EQ(answers.find("HTTP/1.1 ", 1), std::string::npos) << "one answer only: " << answers;
    }
    EXPECT_EQ(server.stop(SIGTERM), 0);
    EXPECT_NE(server.log().find("refused: malformed request body"), std::string::npos) << server.log();
}

// A database of the first schema is upgraded in place when opened: mapped duplicates merged, rows the list's rules
// refuse kept but left out, old report counts kept as reports within the window; a newer schema is refused.
TEST_P(ListServerTest, UpgradesTheFirstSchemaInPlace) {
    if (postgres()) {
        execute("CREATE TABLE proxies (entry TEXT PRIMARY KEY NOT NULL, state TEXT NOT NULL CHECK (state IN"
                " ('pending', 'published', 'withdrawn')), position BIGINT NOT NULL, added_at BIGINT NOT NULL,"
                " reports INTEGER NOT NULL DEFAULT 0 CHECK (reports >= 0));"
                "CREATE INDEX proxies_by_state ON proxies (state, position);"
                "CREATE SEQUENCE proxies_position OWNED BY proxies.position;"
                "CREATE FUNCTION tamberly_list_changed() RETURNS trigger LANGUAGE plpgsql AS"
                " $$BEGIN PERFORM pg_notify('tamberly_list', ''); RETURN NULL; END$$;"
                "CREATE TRIGGER proxies_changed AFTER INSERT OR DELETE OR TRUNCATE ON proxies"
                " FOR EACH STATEMENT EXECUTE FUNCTION tamberly_list_changed();"
                "CREATE TABLE tamberly_listserver (schema_version INTEGER NOT NULL);"
                "INSERT INTO tamberly_listserver VALUES (1);"
                "SELECT setval('proxies_position', 6);");
    } else {
        execute("CREATE TABLE proxies (entry TEXT PRIMARY KEY NOT NULL, state TEXT NOT NULL CHECK (state IN"
                " ('pending', 'published', 'withdrawn')), position INTEGER NOT NULL, added_at INTEGER NOT NULL,"
                " reports INTEGER NOT NULL DEFAULT 0 CHECK (reports >= 0));"
                "CREATE INDEX proxies_by_state ON proxies (state, position);"
                "PRAGMA user_version = 1;");
    }
    execute("INSERT INTO proxies (entry, state, position, added_at, reports) VALUES"
            " ('203.0.113.1:80', 'published', 1, 0, 2), ('[::ffff:203.0.113.1]:80', 'published', 2, 0, 0),"
            " ('[::ffff:203.0.113.2]:80', 'published', 3, 0, 1), ('127.0.0.1:8642', 'published', 4, 0, 0),"
            " ('203.0.113.3:80', 'withdrawn', 5, 0, 1), ('0.0.0.0:80', 'published', 6, 0, 0)");

    const std::vector<std::string> db = {"--db", m_db};
    auto command = [&](std::vector<std::string> args) {
        args.insert(args.end(), db.begin(), db.end());
        return runListServer(args);
    };
    const auto exported = command({"export"});
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_EQ(exported.out, "203.0.113.1:80*203.0.113.2:80*");
    const auto withdrawn = command({"withdrawn"}).out;
    EXPECT_EQ(withdrawn.rfind("203.0.113.3:80\n", 0), 0u) << withdrawn;
    EXPECT_NE(withdrawn.find("127.0.0.1:8642\tleft out of the list: a loopback address"), std::string::npos);
    EXPECT_NE(withdrawn.find("0.0.0.0:80\tleft out of the list: an unspecified address"), std::string::npos);
    EXPECT_EQ(command({"export"}).out, exported.out) << "opened again: already upgraded";

    // The two old reports of 203.0.113.1:80 still count: one new reporter makes three.
    {
        ServerProcess server({"--db", m_db, "--trust-proxy", "127.0.0.1"});
        auto http = server.client();
        EXPECT_EQ(http.Get(dead("203.0.113.2:80"), {{"X-Forwarded-For", "198.51.100.1"}})->status, 200);
        EXPECT_EQ(http.Get(dead("203.0.113.1:80"), {{"X-Forwarded-For", "198.51.100.1"}})->status, 200);
        EXPECT_EQ(list(server), "203.0.113.2:80*");
        EXPECT_EQ(get(server, add("203.0.113.4:80")).status, 200);
        EXPECT_EQ(list(server), "203.0.113.2:80*203.0.113.4:80*") << "the next position follows the old ones";
    }

    execute(postgres() ? "UPDATE tamberly_listserver SET schema_version = 4" : "PRAGMA user_version = 4");
    const auto newer = command({"export"});
    EXPECT_EQ(newer.exitCode, 1);
    EXPECT_NE(newer.err.find("made by a newer version"), std::string::npos) << newer.err;
}

TEST_P(ListServerTest, UpgradesTheSecondSchemaInPlace) {
    // The second schema as that version made it, with a list, a waiting entry and a reporter.
    if (postgres()) {
        execute("CREATE TABLE proxies (entry TEXT PRIMARY KEY NOT NULL, state TEXT NOT NULL CHECK (state IN"
                " ('pending', 'published', 'withdrawn')), position BIGINT NOT NULL, added_at BIGINT NOT NULL,"
                " reports INTEGER NOT NULL DEFAULT 0 CHECK (reports >= 0));"
                "CREATE INDEX proxies_by_state ON proxies (state, position);"
                "CREATE SEQUENCE proxies_position OWNED BY proxies.position;"
                "CREATE FUNCTION tamberly_list_changed() RETURNS trigger LANGUAGE plpgsql AS"
                " $$BEGIN PERFORM pg_notify('tamberly_list', ''); RETURN NULL; END$$;"
                "CREATE TRIGGER proxies_changed AFTER INSERT OR DELETE OR TRUNCATE ON proxies"
                " FOR EACH STATEMENT EXECUTE FUNCTION tamberly_list_changed();"
                "CREATE TABLE reports (entry TEXT NOT NULL, reporter TEXT NOT NULL, reported_at BIGINT NOT NULL,"
                " PRIMARY KEY (entry, reporter));"
                "CREATE TABLE tamberly_listserver (schema_version INTEGER NOT NULL);"
                "INSERT INTO tamberly_listserver VALUES (2);"
                "SELECT setval('proxies_position', 3);");
    } else {
        execute("CREATE TABLE proxies (entry TEXT PRIMARY KEY NOT NULL, state TEXT NOT NULL CHECK (state IN"
                " ('pending', 'published', 'withdrawn')), position INTEGER NOT NULL, added_at INTEGER NOT NULL,"
                " reports INTEGER NOT NULL DEFAULT 0 CHECK (reports >= 0));"
                "CREATE INDEX proxies_by_state ON proxies (state, position);"
                "CREATE INDEX proxies_by_position ON proxies (position);"
                "CREATE TABLE reports (entry TEXT NOT NULL, reporter TEXT NOT NULL, reported_at INTEGER NOT NULL,"
                " PRIMARY KEY (entry, reporter)) WITHOUT ROWID;"
                "PRAGMA user_version = 2;");
    }
    execute("INSERT INTO proxies (entry, state, position, added_at, reports) VALUES"
            " ('203.0.113.1:80', 'published', 1, 0, 1), ('203.0.113.2:80', 'pending', 2, 0, 0),"
            " ('203.0.113.3:80', 'published', 3, 0, 0);"
            "INSERT INTO reports (entry, reporter, reported_at) VALUES ('203.0.113.1:80', 'someone', 0)");

    const auto exported = runListServer({"export", "--db", m_db});
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_EQ(exported.out, "203.0.113.1:80*203.0.113.3:80*");
    EXPECT_EQ(runListServer({"pending", "--db", m_db}).out, "203.0.113.2:80\n");
    EXPECT_EQ(rows(postgres() ? "SELECT schema_version FROM tamberly_listserver" : "PRAGMA user_version"),
              std::vector<std::string>{"3"});
    EXPECT_EQ(rows("SELECT entry, reporter FROM reports"), std::vector<std::string>{"203.0.113.1:80|someone"});
    // Every entry starts unchecked and without a check due: a checking server gives each one.
    EXPECT_EQ(rows("SELECT count(*) FROM proxies WHERE check_due IS NULL AND checked_at = 0 AND check_failures = 0"),
              std::vector<std::string>{"3"});
    EXPECT_EQ(runListServer({"export", "--db", m_db}).out, exported.out) << "opened again: already upgraded";
    {
        ServerProcess server({"--db", m_db});
        EXPECT_EQ(get(server, add("203.0.113.4:80")).status, 200);
        EXPECT_EQ(list(server), "203.0.113.1:80*203.0.113.3:80*203.0.113.4:80*");
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, ListServerTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return info.param == Backend::Sqlite ? "SQLite" : "PostgreSQL"; });

// The proxy check's judge: the client's address and the request's header lines as they came (names as sent, in
// order); behind a trusted front, the walked client and without what the front added. Never the database: it
// answers while another writer holds the SQLite file locked.
TEST(ListServerJudge, ReportsWhatArrivedAsTheFrontWebServerLeftIt) {
    TempDir dir;
    const std::string db = dir.file("list.db");
    const std::string request = "GET /Tamberly/judge.php?x=1 HTTP/1.1\r\nHost: judge\r\nx-Mixed_Case: 1\r\n"
                                "Via: 1.1 p\r\nX-Forwarded-For: 203.0.113.5, 198.51.100.7\r\n"
                                "X-Forwarded-Proto: http\r\nConnection: close\r\n\r\n";
    struct Case {
        std::vector<std::string> args;
        std::string body;
    };
    const Case cases[] = {
        {{"--db", db},
         "tamberly-judge 127.0.0.1\nHost: judge\nx-Mixed_Case: 1\nVia: 1.1 p\n"
         "X-Forwarded-For: 203.0.113.5, 198.51.100.7\nX-Forwarded-Proto: http\nConnection: close\n"},
        {{"--db", db, "--trust-proxy", "127.0.0.1"},
         "tamberly-judge 198.51.100.7\nHost: judge\nx-Mixed_Case: 1\nVia: 1.1 p\nX-Forwarded-For: 203.0.113.5\n"
         "Connection: close\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        ServerProcess server(c.args);
        sqlite3* locked = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &locked), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(locked, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        RawClient client(server.port());
        ASSERT_TRUE(client.send(request));
        const std::string answer = client.receiveAll();
        sqlite3_exec(locked, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(locked);
        const auto split = answer.find("\r\n\r\n");
        ASSERT_NE(split, std::string::npos) << answer;
        const std::string head = answer.substr(0, split);
        EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << head;
        EXPECT_NE(head.find("\r\nContent-Type: text/plain\r\n"), std::string::npos) << head;
        EXPECT_NE(head.find("\r\nCache-Control: no-store\r\n"), std::string::npos) << head;
        EXPECT_EQ(answer.substr(split + 4), c.body);
    }
}

TEST(ListServerDefaults, KeepsTheDatabaseInTheUsersDataFolder) {
    ScopedUserHome home;
    const auto imported = runListServer({"import", "-"}, "203.0.113.1:80*");
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    const std::string folder = home.dir().path() + "/data/tamberly";
    EXPECT_TRUE(std::filesystem::exists(folder + "/listserver.db"));
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
    EXPECT_EQ(runListServer({"export"}).out, "203.0.113.1:80*");
}

} // namespace
} // namespace tamberly::test
