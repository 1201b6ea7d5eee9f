#include "listserver_process.h"
#include "postgres_server.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <filesystem>
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
    std::vector<std::string> withDb(std::vector<std::string> args) const {
        args.push_back("--db");
        args.push_back(m_db);
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

    TempDir m_dir;
    std::string m_db = m_dir.file("list.db");
};

TEST_P(ListServerTest, AddsListsAndWithdrawsReportedProxies) {
    ServerProcess server(withDb({}));
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

TEST_P(ListServerTest, WithdrawsAfterTheGivenNumberOfReports) {
    ServerProcess server(withDb({"--dead-after", "3"}));
    get(server, add("10.0.0.1:80"));
    get(server, add("10.0.0.2:80"));
    EXPECT_EQ(get(server, dead("10.0.0.1:80")).status, 200);
    EXPECT_EQ(get(server, dead("10.0.0.1:80")).status, 200);
    EXPECT_EQ(list(server), "10.0.0.1:80*10.0.0.2:80*");
    EXPECT_NE(get(server, kPage).body.find("<td>10.0.0.1:80</td><td>"), std::string::npos);
    EXPECT_NE(get(server, kPage).body.find("</td><td>2</td></tr>"), std::string::npos);
    EXPECT_EQ(get(server, dead("10.0.0.1:80")).status, 200);
    EXPECT_EQ(list(server), "10.0.0.2:80*");

    // Back on the list with a clean slate: it takes three new reports again.
    get(server, add("10.0.0.1:80"));
    get(server, dead("10.0.0.1:80"));
    get(server, dead("10.0.0.1:80"));
    EXPECT_EQ(list(server), "10.0.0.2:80*10.0.0.1:80*");
}

TEST_P(ListServerTest, ModeratedEntriesWaitForApproval) {
    ServerProcess server(withDb({"--moderate"}));
    EXPECT_EQ(get(server, add("10.0.0.1:80")).status, 200);
    EXPECT_EQ(get(server, add("Waiting.Example:8080")).status, 200);
    EXPECT_EQ(list(server), "");
    EXPECT_EQ(get(server, dead("10.0.0.1:80")).status, 404) << "a waiting entry is not on the list";

    const auto pending = run({"pending"});
    EXPECT_EQ(pending.exitCode, 0);
    EXPECT_EQ(pending.out, "10.0.0.1:80\nwaiting.example:8080\n");

    // Approved while the server runs, from another process.
    const auto approved = run({"approve", "WAITING.example:8080"});
    EXPECT_EQ(approved.exitCode, 0) << approved.err;
    EXPECT_EQ(approved.out, "waiting.example:8080 is now on the list\n");
    EXPECT_NE(get(server, kPage).body.find("waiting.example:8080"), std::string::npos);
    EXPECT_EQ(list(server), "waiting.example:8080*");
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
    get(server, kPage);
    EXPECT_EQ(list(server), "");
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
        ServerProcess server(withDb({}));
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
    {
        ServerProcess server(withDb({"--moderate", "--dead-after", "2"}));
        get(server, add("10.0.0.1:80"));
        get(server, add("10.0.0.2:80"));
        ASSERT_EQ(run({"approve", "10.0.0.1:80"}).exitCode, 0);
        get(server, kPage);
        EXPECT_EQ(get(server, dead("10.0.0.1:80")).status, 200);
        EXPECT_EQ(server.stop(SIGINT), 0);
    }
    ServerProcess server(withDb({"--dead-after", "2"}));
    EXPECT_EQ(list(server), "10.0.0.1:80*");
    EXPECT_NE(get(server, kPage).body.find("<td>10.0.0.1:80</td><td>"), std::string::npos);
    EXPECT_NE(get(server, kPage).body.find("</td><td>1</td></tr>"), std::string::npos);
    EXPECT_EQ(run({"pending"}).out, "10.0.0.2:80\n");
    get(server, dead("10.0.0.1:80"));
    EXPECT_EQ(list(server), "");
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

TEST_P(ListServerTest, HostileInputsAreRefusedAndHarmNothing) {
    ServerProcess server(withDb({}));
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
    get(server, kPage);
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
    ServerProcess server(withDb({"--dead-after", "4"}));
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
                auto report = client.Get(dead("10.1.1.1:80").c_str());
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
    if (postgres()) {
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
    const auto second = run({"--listen", "127.0.0.1:" + std::to_string(first.port())});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("cannot listen on 127.0.0.1:" + std::to_string(first.port())), std::string::npos);
    EXPECT_EQ(second.out, "");
}

INSTANTIATE_TEST_SUITE_P(Backends, ListServerTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return info.param == Backend::Sqlite ? "SQLite" : "PostgreSQL"; });

TEST(ListServerDefaults, KeepsTheDatabaseInTheUsersDataFolder) {
    ScopedUserHome home;
    const auto imported = runListServer({"import", "-"}, "10.0.0.1:80*");
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    const std::string folder = home.dir().path() + "/data/tamberly";
    EXPECT_TRUE(std::filesystem::exists(folder + "/listserver.db"));
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
    EXPECT_EQ(runListServer({"export"}).out, "10.0.0.1:80*");
}

} // namespace
} // namespace tamberly::test
