// The list server's page in a real browser: headless Chromium, driven over its DevTools pipe, in a network namespace
// of the test's own where only loopback exists.
#include "listserver_process.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tamberly::test {
namespace {

using Clock = std::chrono::steady_clock;

const char* const kChromium = "/usr/bin/chromium";

// What `unshare --net` does, then `ip link set lo up`: this process and everything it starts (the list server and
// the browser) see a fresh network with loopback only. Without root, a user namespace makes it allowed.
// (A root without CAP_SYS_ADMIN, as in a container, takes the user namespace's way too.)
std::string isolateNetwork() {
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0) {
        const uid_t uid = geteuid();
        const gid_t gid = getegid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return std::string("unshare: ") + std::strerror(errno);
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (fd >= 0)
        close(fd);
    return up ? std::string() : "cannot bring loopback up";
}

// The text of a JSON string value that follows key in message, with its escapes undone (enough for what Chromium
// sends back: \" \\ \/ \n \t \uXXXX below 0x80).
std::optional<std::string> jsonString(const std::string& message, const std::string& key) {
    const std::string marker = "\"" + key + "\":\"";
    auto at = message.find(marker);
    if (at == std::string::npos)
        return std::nullopt;
    std::string value;
    for (at += marker.size(); at < message.size() && message[at] != '"'; ++at) {
        char c = message[at];
        if (c == '\\' && at + 1 < message.size()) {
            c = message[++at];
            if (c == 'n')
                c = '\n';
            else if (c == 't')
                c = '\t';
            else if (c == 'u' && at + 4 < message.size()) {
                c = static_cast<char>(std::stoi(message.substr(at + 1, 4), nullptr, 16));
                at += 4;
            }
        }
        value += c;
    }
    return value;
}

std::string jsonQuote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

/// Headless Chromium with its DevTools protocol on a pipe (fds 3 and 4), one page attached.
class Browser {
public:
    explicit Browser(const std::string& profile) {
        int commands[2];
        int replies[2];
        if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(replies, O_CLOEXEC) != 0)
            throw std::runtime_error("cannot make pipes");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, (profile + ".log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, commands[0], 3);
        posix_spawn_file_actions_adddup2(&actions, replies[1], 4);
        std::vector<std::string> args = {kChromium,
                                         "--headless",
                                         "--no-sandbox",
                                         "--disable-gpu",
                                         "--disable-quic",
                                         "--no-first-run",
                                         "--no-default-browser-check",
                                         "--disable-background-networking",
                                         "--disable-component-update",
                                         "--disable-sync",
                                         "--disable-default-apps",
                                         "--disable-extensions",
                                         "--disable-domain-reliability",
                                         "--disable-breakpad",
                                         "--disable-features=Translate,OptimizationHints,MediaRouter",
                                         "--metrics-recording-only",
                                         "--password-store=basic",
                                         "--mute-audio",
                                         "--remote-debugging-pipe",
                                         "--user-data-dir=" + profile,
                                         "about:blank"};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&m_pid, kChromium, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(commands[0]);
        close(replies[1]);
        m_out = commands[1];
        m_in = replies[0];
        if (rc != 0)
            throw std::runtime_error("cannot start " + std::string(kChromium));
        const auto target = jsonString(call("Target.createTarget", "{\"url\":\"about:blank\"}"), "targetId");
        if (!target)
            throw std::runtime_error("no page in the browser");
        const auto session = jsonString(
            call("Target.attachToTarget", "{\"targetId\":\"" + *target + "\",\"flatten\":true}"), "sessionId");
        if (!session)
            throw std::runtime_error("cannot attach to the browser's page");
        m_session = *session;
    }
    ~Browser() {
        close(m_out);
        close(m_in);
        kill(m_pid, SIGKILL);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    void navigate(const std::string& url) { call("Page.navigate", "{\"url\":" + jsonQuote(url) + "}", true); }

    /// The string a JavaScript expression gives in the page, or nothing when it failed (as while a page loads).
    std::optional<std::string> evaluate(const std::string& expression) {
        const auto reply =
            call("Runtime.evaluate",
                 "{\"expression\":" + jsonQuote("String(" + expression + ")") + ",\"returnByValue\":true}", true);
        if (reply.find("\"exceptionDetails\"") != std::string::npos || reply.find("\"error\"") != std::string::npos)
            return std::nullopt;
        return jsonString(reply, "value");
    }

    /// Waits until the page at a path has loaded; its body's text, or nothing after the time-out.
    std::optional<std::string> loaded(const std::string& path) {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline) {
            const auto state = evaluate("location.pathname + '|' + document.readyState");
            if (state == path + "|complete")
                return evaluate("document.body.innerText");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return std::nullopt;
    }

private:
    // Sends one command and returns its reply (events in between are passed over).
    std::string call(const std::string& method, const std::string& params, bool inPage = false) {
        const int id = ++m_lastId;
        std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":\"" + method + "\",\"params\":" + params;
        if (inPage)
            message += ",\"sessionId\":\"" + m_session + "\"";
        message += "}";
        message.push_back('\0');
        for (std::size_t sent = 0; sent < message.size();) {
            const ssize_t n = write(m_out, message.data() + sent, message.size() - sent);
            if (n <= 0)
                throw std::runtime_error("the browser went away");
            sent += static_cast<std::size_t>(n);
        }
        const std::string mark = "{\"id\":" + std::to_string(id) + ",";
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (true) {
            for (auto end = m_buffer.find('\0'); end != std::string::npos; end = m_buffer.find('\0')) {
                std::string reply = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                if (reply.rfind(mark, 0) == 0)
                    return reply;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd wait{m_in, POLLIN, 0};
            char chunk[65536];
            const ssize_t n =
                left > 0 && poll(&wait, 1, static_cast<int>(left)) == 1 ? read(m_in, chunk, sizeof chunk) : -1;
            if (n <= 0)
                throw std::runtime_error("no answer from the browser to " + method);
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;
    int m_lastId = 0;
    std::string m_buffer;
    std::string m_session;
};

// The server's bare address leads to the page; the form on the page sends a proxy and gets a page with the outcome,
// whose link leads back to the list, which shows it; and an entry holding markup (a database edited by hand, or
// typed into the form) is shown as text: no script from it ever reaches a page's DOM, so none runs.
TEST(ListServerPageInABrowser, TheFormAddsAProxyAndStoredMarkupNeverRuns) {
    ASSERT_EQ(access(kChromium, X_OK), 0) << "Chromium is needed (Debian package chromium)";
    ASSERT_EQ(isolateNetwork(), "");
    ScopedUserHome home;
    TempDir dir;
    const std::string db = dir.file("list.db");
    ASSERT_EQ(runListServer({"import", "-", "--db", db}, "203.0.113.1:80*").exitCode, 0);
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
    const char* hostile = "INSERT INTO proxies (entry, state, position, added_at, reports) VALUES "
                          "('<script>window.ran=1;document.title=''ran''</script>:80', 'published', 100, 0, 0),"
                          "('<img src=x onerror=\"window.ran=2\">:80', 'published', 101, 0, 0)";
    ASSERT_EQ(sqlite3_exec(handle, hostile, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(handle);

    ServerProcess server({"--db", db});
    const std::string root = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
    Browser browser(dir.file("profile"));

    browser.navigate(root);
    const auto first = browser.loaded("/Tamberly/index.php");
    ASSERT_TRUE(first);
    EXPECT_NE(first->find("203.0.113.1:80"), std::string::npos) << *first;
    EXPECT_NE(first->find("<script>window.ran=1;"), std::string::npos) << "shown as text: " << *first;
    EXPECT_EQ(browser.evaluate("document.getElementsByTagName('script').length"), "0");
    EXPECT_EQ(browser.evaluate("document.querySelectorAll('img, [onerror]').length"), "0");
    EXPECT_EQ(browser.evaluate("typeof window.ran"), "undefined");
    EXPECT_EQ(browser.evaluate("document.title"), "Tamberly proxy list");

    // Typed into the form and sent with its button, as a visitor would.
    ASSERT_EQ(browser.evaluate("(document.querySelector('form input[name=proxy]').value = 'Browser.Example:8080', "
                               "document.querySelector('form button[type=submit]').click(), 'sent')"),
              "sent");
    const auto sent = browser.loaded("/Tamberly/addproxy.php");
    ASSERT_TRUE(sent);
    EXPECT_NE(sent->find("browser.example:8080 was added to the list."), std::string::npos) << *sent;
    EXPECT_EQ(browser.evaluate("location.search"), "?proxy=Browser.Example%3A8080&from=page");

    // Back to the list by the answer's link, as a visitor who has read the answer: the shared page shows a change
    // within a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    ASSERT_EQ(browser.evaluate("(document.querySelector('a[href]').click(), 'clicked')"), "clicked");
    const auto next = browser.loaded("/Tamberly/index.php");
    ASSERT_TRUE(next);
    EXPECT_NE(next->find("browser.example:8080"), std::string::npos) << *next;
    EXPECT_EQ(browser.evaluate("document.getElementsByTagName('script').length"), "0");
    EXPECT_EQ(browser.evaluate("typeof window.ran"), "undefined");

    // Markup typed into the form comes back as text in a refusal.
    ASSERT_EQ(browser.evaluate("(document.querySelector('form input[name=proxy]').value = "
                               "'<img src=x onerror=\"window.ran=3\">:80', "
                               "document.querySelector('form button[type=submit]').click(), 'sent')"),
              "sent");
    const auto refused = browser.loaded("/Tamberly/addproxy.php");
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->find("\"<img src=x onerror=\"window.ran=3\">:80\" is not a proxy address"), std::string::npos)
        << *refused;
    EXPECT_EQ(browser.evaluate("document.querySelectorAll('img, [onerror]').length"), "0");
    EXPECT_EQ(browser.evaluate("typeof window.ran"), "undefined");
    EXPECT_EQ(browser.evaluate("document.querySelector('a[href]').href"), root + "Tamberly/index.php");

    browser.navigate(root + "Tamberly/");
    ASSERT_TRUE(browser.loaded("/Tamberly/index.php"));
    EXPECT_EQ(get(server, "/Tamberly/update.php").body, "203.0.113.1:80*browser.example:8080*");
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

} // namespace
} // namespace tamberly::test
