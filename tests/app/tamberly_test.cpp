#include "app/app.h"

#include "platform/browser_locator.h"
#include "platform/linux/browser_lookup.h"
#include "platform/qt/qt_status_line.h"
#include "platform/qt/tray_icon.h"
#include "storage/ini_file.h"
#include "storage/proxy_list_store.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <utility>

namespace tamberly {
namespace {

using namespace test;

class StubLocator final : public BrowserLocator {
public:
    std::string found;
    int lookups = 0;
    std::string findBrowser() override {
        ++lookups;
        return found;
    }
};

// The real icon over the host the test picks, counting the removals that way.
class RecordingTray final : public TrayIcon {
public:
    RecordingTray(bool available, TrayHost host) : m_real([available] { return available; }, [host] { return host; }) {}
    int removals = 0;
    bool available() override { return m_real.available(); }
    void show(const QIcon& icon, QMenu& popup, MouseHandler onMouse) override { m_real.show(icon, popup, onMouse); }
    void remove() override {
        ++removals;
        m_real.remove();
    }
    /// The icons made so far.
    QList<QSystemTrayIcon*> icons() const { return m_real.findChildren<QSystemTrayIcon*>(); }
    QSystemTrayIcon* icon() const { return icons().value(0); }

private:
    QtTrayIcon m_real;
};

struct WindowTest : ::testing::Test {
    ScopedUserHome home;
    FakeRegistry registry;
    FakeShell shell;
    StubLocator locator;
    FakeRandom random;
    FakeDialogs dialogs;
    FakeTransferControl inet;
    bool trayAvailable = true;
    TrayHost trayHost = TrayHost::XEmbed;
    int ends = 0;
    std::unique_ptr<App> app;
    std::unique_ptr<RecordingTray> tray;
    Tamberly* window = nullptr;

    std::string iniPath() const { return home.configDir() + "/prefs.ini"; }

    Tamberly& open(BrowserLocator& browserLocator) {
        app.reset();
        tray = std::make_unique<RecordingTray>(trayAvailable, trayHost);
        app = std::make_unique<App>(
            AppPlatform{registry, shell, browserLocator, random, dialogs, inet, *tray, [this] { ++ends; }});
        window = &app->window();
        return *window;
    }
    Tamberly& open() { return open(locator); }
    QMenu* popupMenu() { return child<QMenu>("Mnupopup"); }
    template <typename T> T* child(const char* name) { return window->findChild<T*>(QString::fromUtf8(name)); }
    QAction* action(const char* name) { return child<QAction>(name); }
    std::vector<std::string> rows() {
        auto* view = child<QListView>("Proxydisplay");
        std::vector<std::string> out;
        for (int i = 0; i < view->model()->rowCount(); ++i)
            out.push_back(view->model()->index(i, 0).data().toString().toStdString());
        return out;
    }
};

QStringList captions(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions)
        out << (a->isSeparator() ? QStringLiteral("<separator>") : a->text());
    return out;
}

TEST_F(WindowTest, MenuTreeCaptionsAndShortcut) {
    open();
    EXPECT_EQ(captions(window->menuBar()->actions()), (QStringList{"File", "Proxy"}));
    EXPECT_EQ(captions(child<QMenu>("Mnufile")->actions()), (QStringList{"Visit Website", "Hide", "Quit"}));
    EXPECT_EQ(captions(child<QMenu>("Mnuproxy")->actions()),
              (QStringList{"Download List", "Internet Explorer", "Show current proxy", "Report dead proxy",
                           "Add a new proxy", "Check proxies"}));
    EXPECT_EQ(captions(child<QMenu>("MnuIE")->actions()),
              (QStringList{"Launch", "No proxy", "Use this proxy", "Show Internet Options"}));
    EXPECT_EQ(captions(popupMenu()->actions()),
              (QStringList{"No proxy and launch", "Random proxy and launch", "Quit"}));

    // No access keys, nothing checked or disabled; Ctrl+Q on "File", "Quit" only.
    for (QAction* a : window->findChildren<QAction*>()) {
        if (a->text().isEmpty())
            continue;
        EXPECT_FALSE(a->text().contains('&')) << a->text().toStdString();
        EXPECT_FALSE(a->isCheckable());
        EXPECT_TRUE(a->isEnabled());
        EXPECT_EQ(a->shortcut(), a->objectName() == "Mnuquit" ? QKeySequence("Ctrl+Q") : QKeySequence())
            << a->objectName().toStdString();
    }
}

TEST_F(WindowTest, LayoutControlsAndFocus) {
    open();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->windowTitle(), "Tamberly");
    EXPECT_EQ(window->centralWidget()->size(), QSize(298, 209));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()); // fixed size
    EXPECT_FALSE(window->windowIcon().pixmap(QSize(32, 32)).isNull());

    EXPECT_EQ(child<QLabel>("status")->geometry(), QRect(16, 8, 265, 17));
    EXPECT_EQ(child<QListView>("Proxydisplay")->geometry(), QRect(16, 32, 265, 108));
    EXPECT_EQ(child<QPushButton>("choice")->geometry(), QRect(72, 152, 145, 25));
    EXPECT_EQ(child<QPushButton>("choice")->text(), "Use and launch");
    EXPECT_EQ(child<QListView>("Proxydisplay")->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_TRUE(child<QLabel>("status")->text().isEmpty());
    EXPECT_EQ(child<QLabel>("status")->focusPolicy(), Qt::NoFocus);

    auto* timer = window->findChild<QTimer*>("Timer1");
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(timer->interval(), 250);

    // The list has the focus first; Tab moves between it and the button only.
    EXPECT_EQ(QApplication::focusWidget(), child<QListView>("Proxydisplay"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), child<QPushButton>("choice"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), child<QListView>("Proxydisplay"));
}

TEST_F(WindowTest, EventsReachTheirHandlers) {
    ASSERT_TRUE(SaveList("a:1*b:2*", iniPath()));
    ASSERT_TRUE(WriteINI("Path", "IE", "/usr/bin/browser", iniPath()));
    open();
    const auto server = [this] { return regValueText(registry.values[kProxyServerName]); };

    QTest::mouseClick(child<QPushButton>("choice"), Qt::LeftButton);
    EXPECT_EQ(server(), "a:1");
    ASSERT_EQ(shell.requests.size(), 1u);
    EXPECT_EQ(shell.requests[0].file, "/usr/bin/browser");

    random.draws = {0.75};
    action("MnuSwitch")->trigger();
    EXPECT_EQ(server(), "b:2");
    action("Mnulaunch")->trigger();
    action("Mnunoproxy2")->trigger();
    EXPECT_EQ(regValueText(registry.values[kProxyEnableName]), "0");
    EXPECT_EQ(shell.requests.size(), 4u);
    action("Mnuthisproxy")->trigger(); // nothing selected: the empty entry
    EXPECT_EQ(server(), "");
    EXPECT_EQ(shell.requests.size(), 4u);

    // The server exchange goes through the window's transfer control and timer.
    inet.results = {{true, "c:3*", {}}};
    action("Mnulist")->trigger();
    EXPECT_TRUE(window->findChild<QTimer*>("Timer1")->isActive());
    QTRY_COMPARE(rows(), (std::vector<std::string>{"c:3"}));
    EXPECT_FALSE(window->findChild<QTimer*>("Timer1")->isActive());
    dialogs.typed = {"d:4"};
    dialogs.answers = {Dialogs::vbYes};
    action("Mnuadd")->trigger();
    ASSERT_EQ(inet.urls.size(), 2u);
    EXPECT_EQ(inet.urls[0], "http://127.0.0.1:8642/Tamberly/update.php");
    EXPECT_EQ(inet.urls[1], "http://127.0.0.1:8642/Tamberly/addproxy.php?proxy=d:4");
    action("Mnudead")->trigger();
    EXPECT_EQ(dialogs.messages.back().text, "Please select the proxy on the list first");
    action("Mnuvisit")->trigger();
    ASSERT_EQ(shell.requests.size(), 5u);
    EXPECT_EQ(shell.requests[4].parameters, "http://127.0.0.1:8642/Tamberly/index.php");

    registry.values[kProxyEnableName] = std::uint32_t{1};
    registry.values[kProxyServerName] = std::string("10.0.0.1:80");
    action("currproxy")->trigger();
    EXPECT_EQ(child<QLabel>("status")->text(), "Current proxy : 10.0.0.1:80");
    action("Mnunoproxy")->trigger();
    EXPECT_EQ(regValueText(registry.values[kProxyEnableName]), "0");
}

// The status line is narrow: a text it cuts off is offered whole, as plain text, when the user points at it.
TEST(QtStatusLine, ATextTooLongForTheLineIsItsToolTip) {
    QLabel label;
    label.setGeometry(16, 8, 265, 17);
    QtStatusLine line(label);
    for (const std::string reason :
         {"Proxy not submitted: proxy entry holds a blank, a control character or a character outside ASCII (the "
          "server answered 400 Bad Request)",
          "Proxy not submitted: <b>no</b> &amp; <img src=x> <a href='http://x'>here</a> (the server answered 400)"}) {
        line.setCaption(reason);
        EXPECT_EQ(line.caption(), reason);
        EXPECT_TRUE(label.text().endsWith(QChar(0x2026))) << label.text().toStdString();
        QTextDocument shown;
        shown.setHtml(label.toolTip());
        EXPECT_TRUE(Qt::mightBeRichText(label.toolTip()));
        EXPECT_EQ(shown.toPlainText().toStdString(), reason);
    }

    line.setCaption("Busy");
    EXPECT_EQ(label.text(), "Busy");
    EXPECT_TRUE(label.toolTip().isEmpty());
}

TEST_F(WindowTest, StartUpFillsTheListFromTheStoredList) {
    const struct {
        std::string stored;
        std::vector<std::string> rows;
    } cases[] = {
        {"10.0.0.1:80*10.0.0.2:3128*", {"10.0.0.1:80", "10.0.0.2:3128"}},
        {"10.0.0.1:80*10.0.0.2:3128", {"10.0.0.1:80"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SaveList(c.stored, iniPath()));
        open();
        EXPECT_EQ(rows(), c.rows) << c.stored;
        EXPECT_TRUE(child<QLabel>("status")->text().isEmpty());
    }
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(WindowTest, FirstStartWithoutSettingsOpensEmptyAndStoresTheBrowser) {
    locator.found = "/usr/bin/firefox-esr";
    open();
    EXPECT_TRUE(rows().empty());
    EXPECT_EQ(ReadINI("Path", "IE", iniPath()), "/usr/bin/firefox-esr");
    EXPECT_EQ(locator.lookups, 1);
}

TEST_F(WindowTest, StartUpLeavesAStoredBrowserPathAlone) {
    ASSERT_TRUE(WriteINI("Path", "IE", "/nowhere/missing-browser", iniPath()));
    locator.found = "/usr/bin/firefox-esr";
    open();
    EXPECT_EQ(ReadINI("Path", "IE", iniPath()), "/nowhere/missing-browser");
    EXPECT_EQ(locator.lookups, 0);
}

TEST_F(WindowTest, NoBrowserFoundLeavesTheSettingEmpty) {
    open();
    EXPECT_EQ(ReadINI("Path", "IE", iniPath()), "");
    EXPECT_EQ(locator.lookups, 1);
    EXPECT_TRUE(dialogs.messages.empty());
}

// Start-up with the real lookup and a desktop query that hangs: a stored browser path means no query at all; without
// one, the window waits about a second for it, then takes the first known browser.
TEST_F(WindowTest, StartUpLookupIsBoundedAndSkippedWhenAPathIsStored) {
    TempDir bin;
    const std::string asked = bin.file("asked");
    for (const auto& [name, text] :
         {std::pair<std::string, std::string>{"xdg-settings", "#!/bin/sh\n: > '" + asked + "'\nexec /bin/sleep 60\n"},
          {"firefox", "#!/bin/sh\nexit 0\n"}}) {
        writeFile(bin.file(name), text);
        ASSERT_EQ(::chmod(bin.file(name).c_str(), 0755), 0);
    }
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", bin.path().c_str(), 1);
    BrowserLookup lookup;
    const auto start = [&] { open(lookup); };

    ASSERT_TRUE(WriteINI("Path", "IE", "/opt/browser/bin/browser", iniPath()));
    start();
    EXPECT_EQ(ReadINI("Path", "IE", iniPath()), "/opt/browser/bin/browser");
    EXPECT_FALSE(std::filesystem::exists(asked)) << "the desktop was asked although a browser path is stored";

    ASSERT_TRUE(WriteINI("Path", "IE", "", iniPath()));
    const auto began = std::chrono::steady_clock::now();
    start();
    const auto took = std::chrono::steady_clock::now() - began;
    ::setenv("PATH", oldPath.c_str(), 1);
    EXPECT_TRUE(std::filesystem::exists(asked));
    EXPECT_EQ(ReadINI("Path", "IE", iniPath()), bin.file("firefox"));
    EXPECT_LT(took, std::chrono::milliseconds(3500)) << "a generous margin over the one-second bound";
}

TEST_F(WindowTest, HideAddsOneIconAndTheIconDispatchesOnMessageNumbers) {
    ASSERT_TRUE(SaveList("a:1*b:2*", iniPath()));
    open();
    window->show();
    child<QLabel>("status")->setText("kept");
    action("Mnuhide")->trigger();
    ASSERT_NE(tray->icon(), nullptr);
    EXPECT_TRUE(tray->icon()->isVisible());
    EXPECT_EQ(tray->icon()->toolTip(), ":-)");
    EXPECT_FALSE(window->isVisible());

    // Every message but a double click (0x203) and a right-button release (0x205) is ignored.
    for (int message : {0x200, 0x201, 0x202, 0x204, 0x206, 0x207, 0x208, 0x209}) {
        window->pichook_MouseDown(message);
        EXPECT_FALSE(window->isVisible()) << message;
        EXPECT_FALSE(popupMenu()->isVisible()) << message;
    }
    window->pichook_MouseDown(0x205);
    EXPECT_TRUE(popupMenu()->isVisible());
    popupMenu()->hide();

    window->pichook_MouseDown(0x203);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(tray->icon()->isVisible());
    EXPECT_EQ(child<QLabel>("status")->text(), "kept");
    EXPECT_EQ(rows(), (std::vector<std::string>{"a:1", "b:2"}));

    action("Mnuhide")->trigger();
    EXPECT_EQ(tray->icons().size(), 1);
    EXPECT_FALSE(window->isVisible());
}

// An XEmbed tray passes double clicks on, so a single click does nothing there, as written. A StatusNotifierItem
// host reports any click only as an activation: that must bring the window back, or "Hide" would strand it.
TEST_F(WindowTest, IconActivationsMapOntoMessageNumbersAfterTheKindOfHost) {
    enum Outcome { Nothing, Restores, PopsUp };
    const struct {
        TrayHost host;
        QSystemTrayIcon::ActivationReason reason;
        Outcome outcome;
    } cases[] = {
        {TrayHost::XEmbed, QSystemTrayIcon::Trigger, Nothing},
        {TrayHost::XEmbed, QSystemTrayIcon::DoubleClick, Restores},
        {TrayHost::XEmbed, QSystemTrayIcon::Context, PopsUp},
        {TrayHost::XEmbed, QSystemTrayIcon::MiddleClick, Nothing},
        {TrayHost::StatusNotifierItem, QSystemTrayIcon::Trigger, Restores},
        {TrayHost::StatusNotifierItem, QSystemTrayIcon::DoubleClick, Restores},
        {TrayHost::StatusNotifierItem, QSystemTrayIcon::Context, PopsUp},
        {TrayHost::StatusNotifierItem, QSystemTrayIcon::MiddleClick, Nothing},
    };
    for (const auto& c : cases) {
        const std::string name = std::string(c.host == TrayHost::XEmbed ? "XEmbed" : "StatusNotifierItem") +
                                 " reason " + std::to_string(static_cast<int>(c.reason));
        trayHost = c.host;
        open();
        window->show();
        action("Mnuhide")->trigger();
        ASSERT_FALSE(window->isVisible()) << name;

        QMetaObject::invokeMethod(tray->icon(), "activated", Q_ARG(QSystemTrayIcon::ActivationReason, c.reason));

        EXPECT_EQ(window->isVisible(), c.outcome == Restores) << name;
        EXPECT_EQ(popupMenu()->isVisible(), c.outcome == PopsUp) << name;
        EXPECT_TRUE(tray->icon()->isVisible()) << name;
        popupMenu()->hide();
    }
}

// A StatusNotifierItem host shows the icon's menu itself, where it chooses: it gets the pop-up's three commands.
// An XEmbed tray gets none, so a right click opens the program's own pop-up once, at the pointer.
TEST_F(WindowTest, TheHostGetsThePopupCommandsOnlyWhereItShowsTheMenu) {
    open();
    action("Mnuhide")->trigger();
    EXPECT_EQ(tray->icon()->contextMenu(), nullptr);

    trayHost = TrayHost::StatusNotifierItem;
    open();
    action("Mnuhide")->trigger();
    QMenu* hostMenu = tray->icon()->contextMenu();
    ASSERT_NE(hostMenu, nullptr);
    EXPECT_EQ(hostMenu->actions(), popupMenu()->actions());
    EXPECT_EQ(captions(hostMenu->actions()), QStringList({"No proxy and launch", "Random proxy and launch", "Quit"}));

    ends = 0;
    hostMenu->actions().last()->trigger();
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(tray->icon()->isVisible());
}

TEST_F(WindowTest, WithoutANotificationAreaHideMinimises) {
    trayAvailable = false;
    open();
    window->show();
    action("Mnuhide")->trigger();
    EXPECT_EQ(tray->icon(), nullptr);
    EXPECT_TRUE(window->isMinimized());
}

TEST_F(WindowTest, EveryWayOutRemovesTheIconOnceAndEnds) {
    const std::function<void(WindowTest&)> ways[] = {
        [](WindowTest& t) { t.action("Mnuquit")->trigger(); },
        [](WindowTest& t) { QTest::keyClick(t.window, Qt::Key_Q, Qt::ControlModifier); },
        [](WindowTest& t) { t.action("Mnuquit2")->trigger(); },
        [](WindowTest& t) { t.window->close(); },
    };
    int n = 0;
    for (const auto& way : ways) {
        ends = 0;
        open();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        window->activateWindow();
        action("Mnuhide")->trigger();
        window->pichook_MouseDown(0x203);
        way(*this);
        EXPECT_EQ(ends, 1) << "way " << n;
        EXPECT_EQ(tray->removals, 1) << "way " << n;
        EXPECT_FALSE(tray->icon()->isVisible()) << "way " << n;
        ++n;
    }
}

} // namespace
} // namespace tamberly
