// The window over the real Linux platform: what a desktop setting that could not follow shows in the status line,
// and start-up's browser lookup, which asks the desktop only while no browser is stored and never waits long.
#include "app/app.h"
#include "app/event_loop_wait.h"
#include "net/curl_http_transfer.h"
#include "app/tray_icon.h"
#include "commands/commands.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "dialog_answerer.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

#include <QAction>
#include <QLabel>
#include <QListView>
#include <QTextDocument>

#include <gmock/gmock.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tamberly::test {
namespace {

using ::testing::IsEmpty;

// Sets an environment variable for the object's lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// Forwards to the window, noting each status text: the order the window got them in.
class StatusRecorder final : public View {
public:
    explicit StatusRecorder(View& window) : m_window(window) {}
    std::vector<std::string> statuses;

    void setStatus(const std::string& text) override {
        statuses.push_back(text);
        m_window.setStatus(text);
    }
    void showEntries(const std::vector<std::string_view>& rows) override { m_window.showEntries(rows); }
    int entryCount() const override { return m_window.entryCount(); }
    std::string entry(int row) const override { return m_window.entry(row); }
    std::optional<int> selectedRow() const override { return m_window.selectedRow(); }
    void showMarks(std::vector<RowMark> marks) override { m_window.showMarks(std::move(marks)); }
    void clearMarks() override { m_window.clearMarks(); }
    void tell(const std::string& text, const std::string& title) override { m_window.tell(text, title); }
    Answer ask(const std::string& question, const std::string& title) override { return m_window.ask(question, title); }
    std::optional<std::string> askText(const std::string& prompt, const std::string& title) override {
        return m_window.askText(prompt, title);
    }
    void editProxySetting(const std::string& server, bool on, const std::vector<std::string>& places,
                          SaveProxySetting save) override {
        m_window.editProxySetting(server, on, places, std::move(save));
    }

private:
    View& m_window;
};

std::unique_ptr<Platform> linuxPlatform(const Settings& settings, const std::string& folder) {
    return createPlatform({folder, settings.leaveDesktopAlone(), std::make_unique<CurlHttpTransfer>(EventLoopWait::factory())});
}

// The tool tip as the user reads it: it is rich text, the status text escaped in it.
std::string plainToolTip(const QLabel& label) {
    QTextDocument shown;
    shown.setHtml(label.toolTip());
    return shown.toPlainText().toStdString();
}

// "Use this proxy" on a GNOME desktop without a session bus: registry.reg has the proxy, and the status line names
// the desktop setting that could not be changed, once, after the command's own text.
TEST(DesktopProblems, AreShownOnceInTheStatusLineAfterTheCommandsText) {
    ScopedUserHome home;
    const ScopedEnv desktop("XDG_CURRENT_DESKTOP", "GNOME");
    const ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home.dir().file("no-bus"));
    Settings settings(home.configDir() + "/prefs.ini");
    ASSERT_EQ(ProxyListStore(settings).save("10.1.2.3:3128*"), "");
    const std::unique_ptr<Platform> platform = linuxPlatform(settings, home.configDir());
    QtTrayIcon tray([] { return false; }, [] { return TrayHost::XEmbed; });
    std::unique_ptr<Commands> commands;
    MainWindow window(
        tray, [&](Command command) { commands->run(command); }, [] {});
    StatusRecorder view(window);
    commands = std::make_unique<Commands>(view, *platform, settings, window.post());
    commands->startUp();
    DialogAnswerer dialogs;

    auto* list = window.findChild<QListView*>(QStringLiteral("proxyList"));
    list->setCurrentIndex(list->model()->index(0, 0));
    window.findChild<QAction*>(QStringLiteral("useSelected"))->trigger();

    ASSERT_EQ(view.statuses.size(), 2u) << testing::PrintToString(view.statuses);
    EXPECT_EQ(view.statuses[0], "Proxy changed to : 10.1.2.3:3128");
    const std::string& problem = view.statuses[1];
    EXPECT_EQ(problem.rfind("The GNOME proxy setting (org.gnome.system.proxy) could not be changed: no session bus", 0),
              0u)
        << problem;
    EXPECT_EQ(problem.find("could not be changed"), problem.rfind("could not be changed"))
        << "named twice: " << problem;
    EXPECT_EQ(plainToolTip(*window.findChild<QLabel*>(QStringLiteral("status"))), problem);
    const std::string record = readFile(home.configDir() + "/registry.reg");
    EXPECT_NE(record.find("\"ProxyServer\"=\"10.1.2.3:3128\""), std::string::npos) << record;
    EXPECT_NE(record.find("\"ProxyEnable\"=dword:00000001"), std::string::npos) << record;
    EXPECT_THAT(dialogs.shown, IsEmpty());
}

// Start-up with a desktop query that hangs: a stored browser path means no query at all; without one, the program
// waits about a second for it, then takes the first known browser on PATH.
TEST(StartUp, BrowserLookupIsBoundedAndSkippedWhenAPathIsStored) {
    ScopedUserHome home;
    TempDir bin;
    const std::string asked = bin.file("asked");
    for (const auto& [name, text] :
         {std::pair<std::string, std::string>{"xdg-settings", "#!/bin/sh\n: > '" + asked + "'\nexec /bin/sleep 60\n"},
          {"firefox", "#!/bin/sh\nexit 0\n"}}) {
        writeFile(bin.file(name), text);
        ASSERT_EQ(::chmod(bin.file(name).c_str(), 0755), 0);
    }
    const ScopedEnv path("PATH", bin.path());
    const std::string prefs = home.configDir() + "/prefs.ini";
    // Nothing here is about the desktop's proxy setting: leave whatever session bus the test runs in alone.
    ASSERT_EQ(Settings(prefs).setValue("Desktop", "LeaveAlone", "1"), "");
    QtTrayIcon tray([] { return false; }, [] { return TrayHost::XEmbed; });
    DialogAnswerer dialogs;
    const auto start = [&] {
        Settings settings(prefs);
        const std::unique_ptr<Platform> platform = linuxPlatform(settings, home.configDir());
        App app(settings, *platform, tray, [] {});
    };

    ASSERT_EQ(Settings(prefs).setBrowserPath("/opt/browser/bin/browser"), "");
    start();
    EXPECT_EQ(Settings(prefs).browserPath(), "/opt/browser/bin/browser");
    EXPECT_FALSE(std::filesystem::exists(asked)) << "the desktop was asked although a browser path is stored";

    ASSERT_EQ(Settings(prefs).setBrowserPath(""), "");
    const auto began = std::chrono::steady_clock::now();
    start();
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_TRUE(std::filesystem::exists(asked));
    EXPECT_EQ(Settings(prefs).browserPath(), bin.file("firefox"));
    // Not a measure of speed: the desktop's query sleeps for a minute, and only a lookup that stops waiting ends
    // within this generous margin over its one-second bound.
    EXPECT_LT(took, std::chrono::milliseconds(3500)) << "the lookup waited for the desktop";
    EXPECT_THAT(dialogs.shown, IsEmpty());
}

} // namespace
} // namespace tamberly::test
