// "Use and launch" as a user would see it, with a real browser: the window over the real Linux platform, which
// writes registry.reg and the desktop's real proxy setting (dconf on a private session bus) and launches headless
// Chromium on http://tamberly.test/ (a name nobody resolves). A recording proxy of the test's own on 127.0.0.1
// must receive that request, and nothing once the proxy is off. The whole test program runs in a network
// namespace of its own, where only loopback exists, so no request can leave the machine.
#include "app/app.h"
#include "app/event_loop_wait.h"
#include "net/curl_http_transfer.h"
#include "app/tray_icon.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "dialog_answerer.h"
#include "platform/platform.h"
#include "platform/system_proxy.h"
#include "support/http_test_server.h"
#include "support/temp_dir.h"

#include <QAction>
#include <QListView>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tamberly {
namespace {

using namespace std::chrono_literals;

std::string g_isolation; // empty when the namespace and the bus are ready, otherwise why not
std::string g_home;
pid_t g_bus = -1;

bool loopbackUp() {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = s >= 0 && ::ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ::ioctl(s, SIOCSIFFLAGS, &request) == 0;
    if (s >= 0)
        ::close(s);
    return up;
}

// A session bus of the test's own, started in the temporary home so the dconf service it starts writes there.
bool startBus() {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr};
    const int error = posix_spawnp(&g_bus, "dbus-daemon", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string address;
    char c;
    while (error == 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
        address += c;
    ::close(out[0]);
    if (error != 0 || address.empty())
        return false;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    return true;
}

void isolate() {
    if (::unshare(CLONE_NEWNET) != 0) {
        g_isolation = std::string("no network namespace of its own: ") + std::strerror(errno);
        return;
    }
    if (!loopbackUp()) {
        g_isolation = "loopback could not be brought up";
        return;
    }
    char pattern[] = "/tmp/tamberly-e2e-XXXXXX";
    g_home = ::mkdtemp(pattern) ? pattern : "";
    for (const char* sub : {"/config", "/data", "/run"})
        std::filesystem::create_directories(g_home + sub);
    ::chmod((g_home + "/run").c_str(), 0700);
    ::setenv("HOME", g_home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (g_home + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (g_home + "/data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (g_home + "/run").c_str(), 1);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DCONF_PROFILE", "GSETTINGS_BACKEND", "GIO_MODULE_DIR",
                             "KDE_SESSION_VERSION", "DESKTOP_SESSION", "http_proxy", "https_proxy", "HTTP_PROXY",
                             "HTTPS_PROXY", "all_proxy", "no_proxy", "NO_PROXY"})
        ::unsetenv(name);
    if (!startBus())
        g_isolation = "no private session bus (is dbus-daemon installed?)";
}

class BrowserEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_isolation.empty())
            GTEST_SKIP() << g_isolation;
        m_proxy.get(R"(.*)", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body>through the proxy</body></html>", "text/html");
        });
        m_proxy.start();
        const std::string dir = m_dir.path();
        // The stored browser path: Chromium with no background traffic, a throwaway profile, the page, and a mark
        // when it has finished.
        test::writeFile(dir + "/browser.sh",
                        "#!/bin/sh\n"
                        "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                        "--no-default-browser-check --disable-background-networking --disable-component-update "
                        "--disable-sync --disable-default-apps --disable-extensions --disable-breakpad "
                        "--disable-domain-reliability --metrics-recording-only --disable-features=HttpsUpgrades,"
                        "HttpsFirstBalancedModeAutoEnable,OptimizationHints,MediaRouter --user-data-dir=" +
                            dir + "/profile-$$ --timeout=20000 --dump-dom http://tamberly.test/ >" + dir +
                            "/out-$$.txt 2>&1\n"
                            "echo $? >" +
                            dir + "/done-$$\n");
        ::chmod((dir + "/browser.sh").c_str(), 0755);
        Settings settings(m_prefs);
        ASSERT_EQ(ProxyListStore(settings).save("127.0.0.1:" + std::to_string(m_proxy.port()) + "*"), "");
        ASSERT_EQ(settings.setBrowserPath(dir + "/browser.sh"), "");
    }

    // Starts the program as it starts itself, on the desktop named; leaveDesktopAlone keeps the desktop's setting
    // out of it, so that only the launched browser's environment carries the proxy.
    void open(const char* currentDesktop, bool leaveDesktopAlone) {
        ::setenv("XDG_CURRENT_DESKTOP", currentDesktop, 1);
        ASSERT_EQ(Settings(m_prefs).setValue("Desktop", "LeaveAlone", leaveDesktopAlone ? "1" : "0"), "");
        m_settings = std::make_unique<Settings>(m_prefs);
        m_platform = createPlatform(
            {m_folder, m_settings->leaveDesktopAlone(), std::make_unique<CurlHttpTransfer>(EventLoopWait::factory())});
        m_app = std::make_unique<App>(*m_settings, *m_platform, m_tray, [] {});
    }

    // Runs a command and waits until the browser it started has finished with the page.
    void andWaitForTheBrowser(const std::function<void()>& command) {
        const auto before = finishedBrowsers();
        command();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (finishedBrowsers() == before && std::chrono::steady_clock::now() < deadline)
            QTest::qWait(100);
        ASSERT_GT(finishedBrowsers(), before) << "the browser did not finish";
        EXPECT_TRUE(m_dialogs.shown.empty()) << m_dialogs.shown.front().text;
        EXPECT_EQ(wholeStatus().find("could not be changed"), std::string::npos) << wholeStatus();
    }

    // The status text, which the line shows whole.
    std::string wholeStatus() const {
        return m_app->window().findChild<QLabel*>(QStringLiteral("status"))->text().toStdString();
    }

    std::size_t finishedBrowsers() const {
        std::size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
            n += entry.path().filename().string().rfind("done-", 0) == 0;
        return n;
    }

    std::size_t requestsForThePage() const {
        std::size_t n = 0;
        for (const auto& request : m_proxy.requests())
            n += request.target.find("tamberly.test") != std::string::npos;
        return n;
    }

    // What the browsers printed of the pages they loaded.
    std::string pagesShown() const {
        std::string all;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
            if (entry.path().filename().string().rfind("out-", 0) == 0)
                all += test::readFile(entry.path().string());
        return all;
    }

    void click(const char* name) { m_app->window().findChild<QPushButton*>(QString::fromUtf8(name))->click(); }
    void trigger(const char* name) { m_app->window().findChild<QAction*>(QString::fromUtf8(name))->trigger(); }

    test::TempDir m_dir;
    test::HttpTestServer m_proxy;
    std::string m_folder = g_home + "/config/tamberly";
    std::string m_prefs = m_folder + "/prefs.ini";
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<Platform> m_platform;
    QtTrayIcon m_tray{[] { return false; }, [] { return TrayHost::XEmbed; }};
    test::DialogAnswerer m_dialogs;
    // Last: the program goes before the platform and settings it works on.
    std::unique_ptr<App> m_app;
};

TEST_F(BrowserEndToEndTest, UseAndLaunchGoesThroughTheGnomeSetting) {
    open("GNOME", false);
    andWaitForTheBrowser([this] { click("useAndLaunch"); });
    EXPECT_GE(requestsForThePage(), 1u);
    EXPECT_NE(pagesShown().find("through the proxy"), std::string::npos) << pagesShown();
}

TEST_F(BrowserEndToEndTest, UseAndLaunchGoesThroughTheEnvironmentWhereThereIsNoDesktopSetting) {
    open("XFCE", true);
    andWaitForTheBrowser([this] { click("useAndLaunch"); });
    EXPECT_GE(requestsForThePage(), 1u);
    EXPECT_NE(pagesShown().find("through the proxy"), std::string::npos) << pagesShown();
}

TEST_F(BrowserEndToEndTest, AfterNoProxyTheLaunchedBrowserSendsNothingToTheProxy) {
    open("GNOME", false);
    andWaitForTheBrowser([this] { click("useAndLaunch"); });
    const auto seen = requestsForThePage();
    EXPECT_GE(seen, 1u);
    trigger("turnProxyOff");
    andWaitForTheBrowser([this] { trigger("launchBrowser"); });
    EXPECT_EQ(requestsForThePage(), seen);
    EXPECT_EQ(pagesShown().find("through the proxy"), pagesShown().rfind("through the proxy")) << pagesShown();
}

// Waits in the event loop until done() holds; false when it did not within limit. (QTRY_ macros report to QTest, not
// to this program's tests.)
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QTest::qWait(100);
    }
    return true;
}

// Headless Chromium that stays open, with no proxy of its own: it follows the GNOME setting. Its pages are opened
// through its debugging port on 127.0.0.1.
class RunningBrowser {
public:
    /// name tells browsers apart: their profiles.
    RunningBrowser(const std::string& folder, int name) : m_profile(folder + "/profile-" + std::to_string(name)) {
        const std::string profile = "--user-data-dir=" + m_profile;
        const char* argv[] = {"chromium",
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
                              "--disable-breakpad",
                              "--disable-domain-reliability",
                              "--metrics-recording-only",
                              "--disable-features=HttpsUpgrades,HttpsFirstBalancedModeAutoEnable,OptimizationHints,"
                              "MediaRouter",
                              "--remote-debugging-port=0",
                              profile.c_str(),
                              "about:blank",
                              nullptr};
        if (posix_spawnp(&m_pid, "chromium", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            m_pid = -1;
    }
    ~RunningBrowser() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    RunningBrowser(const RunningBrowser&) = delete;
    RunningBrowser& operator=(const RunningBrowser&) = delete;

    /// Whether the browser started is still running: the same process all along.
    bool running() const { return m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; }

    /// Opens url in a new tab of the running browser; false when its debugging port never answered.
    bool open(const std::string& url) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            // Chromium names its port in the profile once it listens.
            const std::string named = test::readFile(m_profile + "/DevToolsActivePort");
            const int port = named.empty() ? 0 : std::atoi(named.c_str());
            if (port > 0) {
                httplib::Client devtools("127.0.0.1", port);
                if (const auto answer = devtools.Put("/json/new?" + url); answer && answer->status == 200)
                    return true;
            }
            QTest::qWait(200);
        }
        return false;
    }

private:
    std::string m_profile;
    pid_t m_pid = -1;
};

TEST_F(BrowserEndToEndTest, WatchingPutsTheNextProxyInTheGnomeSettingWhenItsProxyDies) {
    // The test page every probe fetches, directly and through each proxy; both proxies pass on its text.
    test::HttpTestServer page;
    page.get(R"(.*)",
             [](const httplib::Request&, httplib::Response& res) { res.set_content("page-ok", "text/plain"); });
    page.start();
    auto first = std::make_unique<test::HttpTestServer>();
    test::HttpTestServer second;
    for (test::HttpTestServer* proxy : {first.get(), &second}) {
        proxy->get(R"(.*)", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body>through the proxy page-ok</body></html>", "text/html");
        });
        proxy->start();
    }
    const std::string a = "127.0.0.1:" + std::to_string(first->port());
    const std::string b = "127.0.0.1:" + std::to_string(second.port());
    const auto pageRequests = [](const test::HttpTestServer& proxy) {
        std::size_t n = 0;
        for (const auto& request : proxy.requests())
            n += request.target.find("tamberly.test") != std::string::npos;
        return n;
    };
    {
        Settings settings(m_prefs);
        ASSERT_EQ(ProxyListStore(settings).save(a + "*" + b + "*"), "");
        for (const auto& [section, key, value] :
             {std::tuple{"Check", "URL", page.baseUrl() + "/check"},
              std::tuple{"Check", "Expect", std::string("page-ok")}, std::tuple{"Watch", "Enabled", std::string("1")},
              std::tuple{"Watch", "Interval", std::string("15")}})
            ASSERT_EQ(settings.setValue(section, key, value), "");
    }
    open("GNOME", false);
    auto* list = m_app->window().findChild<QListView*>(QStringLiteral("proxyList"));
    list->setCurrentIndex(list->model()->index(0, 0));
    trigger("useSelected");
    ASSERT_EQ(wholeStatus(), "Proxy changed to : " + a);

    // The browser gets no proxy of its own: it follows the GNOME setting.
    RunningBrowser browser(m_dir.path(), 0);
    ASSERT_TRUE(browser.open("http://tamberly.test/first"));
    ASSERT_TRUE(waitFor([&] { return pageRequests(*first) >= 1; }, 30s));

    first.reset(); // the proxy dies
    const auto died = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return wholeStatus().find("now using") != std::string::npos; }, 45s)) << wholeStatus();
    EXPECT_EQ(wholeStatus().rfind(a + " stopped answering; now using " + b + " (", 0), 0u) << wholeStatus();
    EXPECT_LE(std::chrono::steady_clock::now() - died, std::chrono::seconds(45));
    const CurrentSetting gnome = m_platform->systemProxy().current();
    ASSERT_TRUE(gnome.setting && gnome.setting->servers) << gnome.why;
    EXPECT_EQ(formatProxyServers(*gnome.setting->servers), b);

    // The browser already running follows the switch. It takes up a change of the setting a moment after the
    // change (it gathers the notifications for a short while, then reads the setting again), and a page opened
    // before then still goes to the dead proxy and fails: open the page again, now and then, until one reaches
    // the new proxy.
    int opened = 0;
    const bool reached = waitFor(
        [&] {
            if (pageRequests(second) >= 1)
                return true;
            if (opened++ % 5 == 0) {
                EXPECT_TRUE(browser.open("http://tamberly.test/second-" + std::to_string(opened)));
            }
            return false;
        },
        30s);
    std::string seen;
    for (const auto& request : second.requests())
        seen += request.target + " ";
    EXPECT_TRUE(reached) << seen;
    EXPECT_TRUE(browser.running());
}

} // namespace
} // namespace tamberly

int main(int argc, char* argv[]) {
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    if (!listing)
        tamberly::isolate();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int result;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (tamberly::g_bus > 0) {
        // GIO ends a program whose session bus goes away (with SIGTERM), as at the end of a desktop session.
        ::signal(SIGTERM, SIG_IGN);
        ::kill(tamberly::g_bus, SIGTERM);
        ::waitpid(tamberly::g_bus, nullptr, 0);
    }
    if (!tamberly::g_home.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(tamberly::g_home, ec);
    }
    return result;
}
