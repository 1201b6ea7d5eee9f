// The main window: its menus, layout and focus, each click reaching its command, the status line, start-up, and the
// notification-area icon from "Hide" to every way out.
#include "transfer_test_support.h"
#include "window_fixture.h"

#include <QApplication>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>

#include <gmock/gmock.h>

#include <functional>

namespace tamberly::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

QStringList captions(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions)
        out << (a->isSeparator() ? QStringLiteral("<separator>") : a->text());
    return out;
}

std::string serverInForce(const FakeSystemProxy& proxy) {
    return proxy.setting.servers ? formatProxyServers(*proxy.setting.servers) : "";
}

TEST_F(WindowTest, MenuTreeCaptionsAndShortcut) {
    open();
    EXPECT_EQ(captions(window->menuBar()->actions()), (QStringList{"File", "Proxy"}));
    EXPECT_EQ(captions(child<QMenu>("fileMenu")->actions()), (QStringList{"Visit Website", "Hide", "Quit"}));
    EXPECT_EQ(captions(child<QMenu>("proxyMenu")->actions()),
              (QStringList{"Download List", "Internet Explorer", "Show current proxy", "Report dead proxy",
                           "Add a new proxy", "Check proxies", "Stop checking"}));
    EXPECT_EQ(captions(child<QMenu>("internetExplorerMenu")->actions()),
              (QStringList{"Launch", "No proxy", "Use this proxy", "Show Internet Options"}));
    EXPECT_EQ(captions(trayMenu()->actions()), (QStringList{"No proxy and launch", "Random proxy and launch", "Quit"}));

    // No access keys, nothing checked or disabled; Ctrl+Q on "File", "Quit" and Esc on "Stop checking" only.
    for (QAction* a : window->findChildren<QAction*>()) {
        if (a->text().isEmpty())
            continue;
        EXPECT_FALSE(a->text().contains('&')) << a->text().toStdString();
        EXPECT_FALSE(a->isCheckable());
        EXPECT_TRUE(a->isEnabled());
        const QKeySequence shortcut = a->objectName() == "quit"        ? QKeySequence("Ctrl+Q")
                                      : a->objectName() == "stopCheck" ? QKeySequence("Esc")
                                                                       : QKeySequence();
        EXPECT_EQ(a->shortcut(), shortcut) << a->objectName().toStdString();
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

    auto* useAndLaunch = child<QPushButton>("useAndLaunch");
    EXPECT_EQ(statusLine()->geometry(), QRect(16, 8, 265, 17));
    EXPECT_EQ(list()->geometry(), QRect(16, 32, 265, 108));
    EXPECT_EQ(useAndLaunch->geometry(), QRect(72, 152, 145, 25));
    EXPECT_EQ(useAndLaunch->text(), "Use and launch");
    EXPECT_EQ(list()->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_TRUE(status().isEmpty());
    EXPECT_EQ(statusLine()->focusPolicy(), Qt::NoFocus);

    // The list has the focus first; Tab moves between it and the button only.
    EXPECT_EQ(QApplication::focusWidget(), list());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), useAndLaunch);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), list());
}

TEST_F(WindowTest, EventsReachTheirCommands) {
    storeList("a:1*b:2*");
    setValue("Path", "IE", "/usr/bin/browser");
    open();
    const FakeSystemProxy& proxy = platform.proxy;
    const auto& launches = platform.launcher_.launches;

    QTest::mouseClick(child<QPushButton>("useAndLaunch"), Qt::LeftButton);
    EXPECT_EQ(serverInForce(proxy), "a:1");
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].program, "/usr/bin/browser");

    platform.random_.draws = {0.75};
    action("useRandomAndLaunch")->trigger();
    EXPECT_EQ(serverInForce(proxy), "b:2");
    action("launchBrowser")->trigger();
    action("turnProxyOffAndLaunch")->trigger();
    EXPECT_EQ(proxy.setting.mode, ProxyMode::Off);
    EXPECT_EQ(launches.size(), 4u);
    const std::size_t changes = proxy.applied.size();
    action("useSelected")->trigger(); // nothing selected: nothing is put in force
    EXPECT_EQ(status(), "Please select the proxy on the list first");
    EXPECT_EQ(proxy.applied.size(), changes);
    EXPECT_EQ(launches.size(), 4u);

    // The server exchange goes through the platform's HTTP client.
    platform.transfer_.answer = [](const std::string&) { return TransferResult{true, "c:3*", {}}; };
    action("downloadList")->trigger();
    EXPECT_EQ(rows(), (std::vector<std::string>{"c:3"}));
    dialogs.typed = {"d:4"};
    dialogs.replies = {QMessageBox::Yes};
    action("submitProxy")->trigger();
    EXPECT_THAT(platform.transfer_.urls, ElementsAre("http://127.0.0.1:8642/Tamberly/update.php",
                                                     "http://127.0.0.1:8642/Tamberly/addproxy.php?proxy=d:4"));
    action("reportDeadProxy")->trigger();
    EXPECT_EQ(dialogs.messages().back(), "Please select the proxy on the list first");
    action("visitWebsite")->trigger();
    ASSERT_EQ(platform.launcher_.opened.size(), 1u);
    EXPECT_EQ(platform.launcher_.opened[0].url, "http://127.0.0.1:8642/Tamberly/index.php");

    platform.proxy.setting = ProxySetting::manual(*parseProxyServers("10.0.0.1:80").servers);
    action("showCurrentProxy")->trigger();
    EXPECT_EQ(status(), "Current proxy : 10.0.0.1:80");
    action("turnProxyOff")->trigger();
    EXPECT_EQ(proxy.setting.mode, ProxyMode::Off);
}

// A download completes within its own command: the rows are there when the answer is, with no tick to wait for.
TEST_F(WindowTest, ADownloadsRowsArriveAsSoonAsItsAnswerDoes) {
    HttpTestServer server;
    auto gate = server.makeGate();
    server.get("/Tamberly/update.php", [gate](const httplib::Request&, httplib::Response& res) {
        gate->wait();
        res.set_content("10.0.0.1:80*10.0.0.2:3128*", "text/plain");
    });
    server.start();
    storeList("old:1*");
    setValue("Server", "URL", server.baseUrl());
    TransferPlatform real;
    open(real);

    std::vector<std::string> rowsMeanwhile;
    QString statusMeanwhile;
    RequestWatcher watcher(server, 1, [&] {
        rowsMeanwhile = rows();
        statusMeanwhile = status();
        gate->open();
    });
    action("downloadList")->trigger();

    EXPECT_EQ(statusMeanwhile, "Retreiving list, please wait ...");
    EXPECT_EQ(rowsMeanwhile, (std::vector<std::string>{"old:1"}));
    // No event has run since the command returned.
    EXPECT_EQ(rows(), (std::vector<std::string>{"10.0.0.1:80", "10.0.0.2:3128"}));
    EXPECT_EQ(status(), "List downloaded from server.");
    EXPECT_FALSE(real.http.busy());
}

// The status line is narrow: a text it cuts off is offered whole, as plain text, when the user points at it.
TEST_F(WindowTest, ATextTooLongForTheStatusLineIsItsToolTip) {
    open();
    for (const std::string text :
         {"Proxy not submitted: proxy entry holds a blank, a control character or a character outside ASCII (the "
          "server answered 400 Bad Request)",
          "Proxy not submitted: <b>no</b> &amp; <img src=x> <a href='http://x'>here</a> (the server answered 400)",
          "The GNOME proxy setting (org.gnome.system.proxy) could not be changed: the session bus did not answer "
          "within 3 s."}) {
        window->setStatus(text);
        EXPECT_TRUE(status().endsWith(QChar(0x2026))) << status().toStdString();
        EXPECT_TRUE(Qt::mightBeRichText(statusLine()->toolTip()));
        QTextDocument shown;
        shown.setHtml(statusLine()->toolTip());
        EXPECT_EQ(shown.toPlainText().toStdString(), text);
    }

    window->setStatus("Busy");
    EXPECT_EQ(status(), "Busy");
    EXPECT_TRUE(statusLine()->toolTip().isEmpty());
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
        storeList(c.stored);
        open();
        EXPECT_EQ(rows(), c.rows) << c.stored;
        EXPECT_TRUE(status().isEmpty());
    }
    EXPECT_THAT(dialogs.shown, IsEmpty());
}

TEST_F(WindowTest, FirstStartWithoutSettingsOpensEmptyAndStoresTheBrowser) {
    platform.launcher_.found = "/usr/bin/firefox-esr";
    open();
    EXPECT_THAT(rows(), IsEmpty());
    EXPECT_EQ(value("Path", "IE"), "/usr/bin/firefox-esr");
    EXPECT_EQ(platform.launcher_.lookups, 1);
}

TEST_F(WindowTest, StartUpLeavesAStoredBrowserPathAlone) {
    setValue("Path", "IE", "/nowhere/missing-browser");
    platform.launcher_.found = "/usr/bin/firefox-esr";
    open();
    EXPECT_EQ(value("Path", "IE"), "/nowhere/missing-browser");
    EXPECT_EQ(platform.launcher_.lookups, 0);
}

TEST_F(WindowTest, NoBrowserFoundLeavesTheSettingEmpty) {
    open();
    EXPECT_EQ(value("Path", "IE"), "");
    EXPECT_EQ(platform.launcher_.lookups, 1);
    EXPECT_THAT(dialogs.shown, IsEmpty());
}

TEST_F(WindowTest, HideAddsOneIconAndTheIconDispatchesOnMessageNumbers) {
    storeList("a:1*b:2*");
    open();
    window->show();
    window->setStatus("kept");
    action("hideToTray")->trigger();
    ASSERT_NE(tray->icon(), nullptr);
    EXPECT_TRUE(tray->icon()->isVisible());
    EXPECT_EQ(tray->icon()->toolTip(), ":-)");
    EXPECT_FALSE(window->isVisible());

    // Every message but a double click (0x203) and a right-button release (0x205) is ignored.
    for (int message : {0x200, 0x201, 0x202, 0x204, 0x206, 0x207, 0x208, 0x209}) {
        window->trayActivated(message);
        EXPECT_FALSE(window->isVisible()) << message;
        EXPECT_FALSE(trayMenu()->isVisible()) << message;
    }
    window->trayActivated(0x205);
    EXPECT_TRUE(trayMenu()->isVisible());
    trayMenu()->hide();

    window->trayActivated(0x203);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(tray->icon()->isVisible());
    EXPECT_EQ(status(), "kept");
    EXPECT_EQ(rows(), (std::vector<std::string>{"a:1", "b:2"}));

    action("hideToTray")->trigger();
    EXPECT_EQ(tray->icons().size(), 1);
    EXPECT_FALSE(window->isVisible());
}

// An XEmbed tray passes double clicks on, so a single click does nothing there. A StatusNotifierItem host reports any
// click only as an activation: that must bring the window back, or "Hide" would strand it.
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
        action("hideToTray")->trigger();
        ASSERT_FALSE(window->isVisible()) << name;

        QMetaObject::invokeMethod(tray->icon(), "activated", Q_ARG(QSystemTrayIcon::ActivationReason, c.reason));

        EXPECT_EQ(window->isVisible(), c.outcome == Restores) << name;
        EXPECT_EQ(trayMenu()->isVisible(), c.outcome == PopsUp) << name;
        EXPECT_TRUE(tray->icon()->isVisible()) << name;
        trayMenu()->hide();
    }
}

// A StatusNotifierItem host shows the icon's menu itself, where it chooses: it gets the pop-up's three commands.
// An XEmbed tray gets none, so a right click opens the program's own pop-up once, at the pointer.
TEST_F(WindowTest, TheHostGetsThePopupCommandsOnlyWhereItShowsTheMenu) {
    open();
    action("hideToTray")->trigger();
    EXPECT_EQ(tray->icon()->contextMenu(), nullptr);

    trayHost = TrayHost::StatusNotifierItem;
    open();
    action("hideToTray")->trigger();
    QMenu* hostMenu = tray->icon()->contextMenu();
    ASSERT_NE(hostMenu, nullptr);
    EXPECT_EQ(hostMenu->actions(), trayMenu()->actions());
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
    action("hideToTray")->trigger();
    EXPECT_EQ(tray->icon(), nullptr);
    EXPECT_TRUE(window->isMinimized());
}

TEST_F(WindowTest, EveryWayOutRemovesTheIconOnceAndEnds) {
    const std::function<void()> ways[] = {
        [this] { action("quit")->trigger(); },
        [this] { QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier); },
        [this] { action("quitFromTray")->trigger(); },
        [this] { window->close(); },
    };
    int n = 0;
    for (const auto& way : ways) {
        ends = 0;
        open();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        window->activateWindow();
        action("hideToTray")->trigger();
        window->trayActivated(0x203);
        way();
        EXPECT_EQ(ends, 1) << "way " << n;
        EXPECT_EQ(tray->removals, 1) << "way " << n;
        EXPECT_FALSE(tray->icon()->isVisible()) << "way " << n;
        ++n;
    }
}

} // namespace
} // namespace tamberly::test
