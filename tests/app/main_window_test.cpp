// The main window: its menus, layout and focus, each click reaching its command, the status line, start-up, and the
// notification-area icon from "Hide" to every way out.
#include "transfer_test_support.h"
#include "window_fixture.h"

#include "app/proxy_list_model.h"
#include "app/proxy_list_view.h"
#include "commands/check_results.h"
#include "support/temp_dir.h"

#include <QApplication>
#include <QMenuBar>
#include <QScreen>
#include <QSet>
#include <QPushButton>
#include <QTest>

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

TEST_F(WindowTest, MenuTreeCaptionsAccessKeysAndShortcut) {
    open();
    EXPECT_EQ(captions(window->menuBar()->actions()), (QStringList{"&File", "&Proxy"}));
    EXPECT_EQ(captions(child<QMenu>("fileMenu")->actions()),
              (QStringList{"&Visit Website", "&Hide", "&Start with the session", "&Quit"}));
    EXPECT_EQ(captions(child<QMenu>("proxyMenu")->actions()),
              (QStringList{"Download &List", "&Internet Explorer", "&Random proxy and launch", "&Show current proxy",
                           "Report &dead proxy", "&Add a new proxy", "&Check proxies", "S&top checking",
                           "Use &fastest working proxy", "S&ort by last check", "&Keep me on a working proxy"}));
    EXPECT_EQ(captions(child<QMenu>("internetExplorerMenu")->actions()),
              (QStringList{"&Launch", "&No proxy", "&Use this proxy", "Show Internet &Options"}));
    EXPECT_EQ(captions(trayMenu()->actions()),
              (QStringList{"&No proxy and launch", "&Random proxy and launch", "&Quit"}));
    EXPECT_TRUE(child<QMenu>("proxyMenu")->actions().contains(action("useRandomAndLaunch")))
        << "the pop-up's command itself, not a copy";

    // Within a menu each item has an access key of its own.
    for (QMenu* menu : window->findChildren<QMenu*>()) {
        QSet<QKeySequence> keys;
        for (QAction* a : menu->actions()) {
            const QKeySequence key = QKeySequence::mnemonic(a->text());
            EXPECT_FALSE(key.isEmpty()) << a->text().toStdString();
            EXPECT_FALSE(keys.contains(key)) << a->text().toStdString() << " in " << menu->objectName().toStdString();
            keys.insert(key);
        }
    }

    // Only the three toggles can be checked; nothing disabled; Ctrl+Q on "File", "Quit" and Esc on "Stop checking"
    // only.
    const QStringList toggles = {"startWithSession", "sortByCheck", "watchProxy"};
    for (QAction* a : window->findChildren<QAction*>()) {
        if (a->text().isEmpty())
            continue;
        EXPECT_EQ(a->isCheckable(), toggles.contains(a->objectName())) << a->objectName().toStdString();
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
    EXPECT_EQ(window->centralWidget()->size(), QSize(298, 209)) << "the default size";
    EXPECT_EQ(window->centralWidget()->minimumSize(), QSize(298, 209)) << "the least size";
    EXPECT_GT(window->maximumWidth(), window->width());
    EXPECT_GT(window->maximumHeight(), window->height());
    EXPECT_FALSE(window->windowIcon().pixmap(QSize(32, 32)).isNull());

    auto* useAndLaunch = child<QPushButton>("useAndLaunch");
    EXPECT_EQ(statusLine()->geometry(), QRect(16, 8, 265, 17));
    EXPECT_EQ(list()->geometry(), QRect(16, 32, 265, 108));
    EXPECT_EQ(useAndLaunch->geometry(), QRect(72, 152, 145, 25));
    EXPECT_EQ(useAndLaunch->text(), "&Use and launch");
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

// A larger window gives its room to the list; it never gets smaller than the default.
TEST_F(WindowTest, ALargerWindowGivesTheRoomToTheList) {
    open();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    window->resize(window->size() + QSize(200, 150));
    QTRY_COMPARE(window->centralWidget()->size(), QSize(498, 359));
    EXPECT_EQ(statusLine()->geometry(), QRect(16, 8, 465, 17));
    EXPECT_EQ(list()->geometry(), QRect(16, 32, 465, 258));
    EXPECT_EQ(child<QPushButton>("useAndLaunch")->geometry(), QRect(172, 302, 145, 25));

    window->resize(100, 100);
    QTRY_COMPARE(window->centralWidget()->size(), QSize(298, 209));
    EXPECT_EQ(list()->geometry(), QRect(16, 32, 265, 108));
}

// The size is written once it has settled and when the window closes, never at each step of a drag; the next start
// opens at it. A remembered size smaller than the default, or no size at all, opens at the default.
TEST_F(WindowTest, TheWindowRemembersItsSize) {
    open();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const QSize frame = window->size() - window->centralWidget()->size();
    EXPECT_EQ(value("Window", "Width"), "") << "opening writes nothing";

    const std::string before = readFile(prefs);
    for (int step = 1; step <= 20; ++step) {
        window->resize(QSize(298 + 5 * step, 209 + 3 * step) + frame);
        QTest::qWait(10);
    }
    EXPECT_EQ(readFile(prefs), before) << "written while the size was still changing";
    QTRY_COMPARE(value("Window", "Width"), "398");
    EXPECT_EQ(value("Window", "Height"), "269");

    window->resize(QSize(420, 300) + frame);
    QTest::qWait(0);
    action("quit")->trigger();
    EXPECT_EQ(value("Window", "Width"), "420") << "written on the way out";
    EXPECT_EQ(value("Window", "Height"), "300");

    const struct {
        std::string width, height;
        QSize opens;
    } cases[] = {
        {"420", "300", QSize(420, 300)},
        {"100", "100", QSize(298, 209)},
        {"640", "x", QSize(298, 209)},
        {"", "", QSize(298, 209)},
    };
    for (const auto& c : cases) {
        setValue("Window", "Width", c.width);
        setValue("Window", "Height", c.height);
        open();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        EXPECT_EQ(window->centralWidget()->size(), c.opens) << c.width << " x " << c.height;
        const std::string unchanged = readFile(prefs);
        action("quit")->trigger();
        EXPECT_EQ(readFile(prefs), unchanged) << "an unchanged size is not written again";
    }
}

// Enter or a double click on a row runs "Use and launch" on it, Delete offers to report it; Alt and a menu's access
// key open the menu, F10 the first one.
TEST_F(WindowTest, KeysReachTheMenusAndTheRows) {
    storeList("a:1*b:2*c:3*");
    setValue("Path", "IE", "/usr/bin/browser");
    open();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    QTest::keyClick(window, Qt::Key_P, Qt::AltModifier);
    QTRY_VERIFY(child<QMenu>("proxyMenu")->isVisible());
    child<QMenu>("proxyMenu")->close();
    QTest::keyClick(window, Qt::Key_F10);
    QTRY_VERIFY(child<QMenu>("fileMenu")->isVisible());
    child<QMenu>("fileMenu")->close();

    const auto& launches = platform.launcher_.launches;
    select(1);
    QTest::keyClick(list(), Qt::Key_Return);
    EXPECT_EQ(serverInForce(platform.proxy), "b:2");
    EXPECT_EQ(launches.size(), 1u);
    QTest::keyClick(list(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(launches.size(), 2u);

    const QPoint third = list()->visualRect(list()->model()->index(2, 0)).center();
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, third);
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, third);
    EXPECT_EQ(serverInForce(platform.proxy), "c:3");
    EXPECT_EQ(launches.size(), 3u);
    EXPECT_EQ(status(), "Proxy changed to : c:3");

    dialogs.replies = {QMessageBox::No};
    QTest::keyClick(list(), Qt::Key_Delete);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "Do you want to report c:3 as dead proxy ?");
    EXPECT_THAT(platform.transfer_.urls, IsEmpty());
    EXPECT_EQ(launches.size(), 3u);
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

// A long text shows whole, as plain text, wrapped between words: in two lines, the window widening as far as needed,
// or in more where the screen is too narrow. The list moves down by the lines the text takes.
TEST_F(WindowTest, TheStatusLineShowsALongTextWholeBetweenWords) {
    open();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const QFontMetrics metrics = statusLine()->fontMetrics();
    const int twoLines = metrics.height() + metrics.lineSpacing();
    const QString longWord = "http://a-list-server-with-a-very-long-name.example.org:8642/Tamberly/update.php";
    const struct {
        QString text;
        bool inTwoLines;
    } cases[] = {
        {"Proxy not submitted: proxy entry holds a blank, a control character or a character outside ASCII (the "
         "server answered 400 Bad Request)",
         true},
        {"Proxy not submitted: <b>no</b> &amp; <img src=x> <a href='http://x'>here</a> (the server answered 400)",
         true},
        {"List download failed: " + longWord + " did not answer", true},
        {QString("The GNOME proxy setting (org.gnome.system.proxy) could not be changed: the session bus did not "
                 "answer within 3 s. ")
             .repeated(8),
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const int screenWidth = window->screen()->availableGeometry().width();
        window->setStatus(c.text.toStdString());
        QTRY_COMPARE(window->centralWidget()->width(), window->width());
        EXPECT_EQ(status(), c.text);
        EXPECT_EQ(statusLine()->textFormat(), Qt::PlainText);
        EXPECT_TRUE(statusLine()->toolTip().isEmpty());
        const QRect line = statusLine()->geometry();
        const QRect needed = metrics.boundingRect(QRect(0, 0, line.width(), 1 << 20), Qt::TextWordWrap, c.text);
        EXPECT_LE(needed.width(), line.width()) << "a word cut";
        EXPECT_LE(needed.height(), line.height()) << "a line cut";
        EXPECT_EQ(needed.height() <= twoLines, c.inTwoLines);
        EXPECT_LE(window->frameGeometry().width(), screenWidth);
        EXPECT_EQ(list()->geometry().top(), line.bottom() + 8);
        EXPECT_EQ(list()->geometry().bottom(), child<QPushButton>("useAndLaunch")->geometry().top() - 13);
    }

    window->setStatus("Busy");
    EXPECT_EQ(status(), "Busy");
    EXPECT_EQ(statusLine()->height(), 17);
    EXPECT_EQ(list()->geometry().top(), 32);
}

// A new user's first sight: an empty list says in grey where the rows come from, and the status line is empty.
TEST_F(WindowTest, AnEmptyListShowsWhereTheRowsComeFrom) {
    // The middle band of the list as painted, and whether anything but the list's background is in it.
    const auto paintsText = [this] {
        const QImage image = list()->viewport()->grab().toImage();
        const QRgb background = image.pixel(1, 1);
        for (int y = image.height() / 3; y < 2 * image.height() / 3; ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != background)
                    return true;
        return false;
    };
    open();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_STREQ(ProxyListView::kEmptyHint, "No proxies yet: Proxy \u2192 Download List");
    EXPECT_TRUE(paintsText()) << "no hint";
    EXPECT_TRUE(status().isEmpty());

    window->showEntries({"", "", "", "", "", "", "", "", "", ""});
    EXPECT_FALSE(paintsText()) << "a hint over rows, even empty ones";
    window->showEntries({});
    EXPECT_TRUE(paintsText());
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
    EXPECT_EQ(captions(hostMenu->actions()),
              QStringList({"&No proxy and launch", "&Random proxy and launch", "&Quit"}));

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

TEST_F(WindowTest, StartWithTheSessionIsCheckedAsTheEntryIsWhenTheMenuOpens) {
    open();
    QMenu* file = child<QMenu>("fileMenu");
    QAction* session = action("startWithSession");
    for (const bool on : {true, false, true}) {
        // Changed behind the program's back, as the desktop's startup settings do.
        platform.sessionStart_.on = on;
        emit file->aboutToShow();
        EXPECT_EQ(session->isChecked(), on);
    }
    session->trigger();
    EXPECT_FALSE(platform.sessionStart_.on);
    EXPECT_EQ(status(), "Tamberly will no longer start with the session");
}

TEST_F(WindowTest, AHiddenStartShowsOnlyTheIconOnceANotificationAreaIsThere) {
    for (const bool atStart : {true, false}) {
        trayAvailable = atStart;
        open();
        window->startHidden(std::chrono::seconds(60));
        if (!atStart) {
            // The session's panel comes later: nothing is shown meanwhile, and the program goes on.
            QTest::qWait(700);
            EXPECT_EQ(tray->icon(), nullptr);
            EXPECT_FALSE(window->isVisible());
            tray->availableNow = true;
        }
        QTRY_VERIFY(tray->icon() != nullptr);
        EXPECT_TRUE(tray->icon()->isVisible());
        EXPECT_FALSE(window->isVisible()) << "tray at start: " << atStart;
        EXPECT_EQ(ends, 0);
    }
}

TEST_F(WindowTest, AHiddenStartThatNeverFindsANotificationAreaShowsTheWindowMinimised) {
    trayAvailable = false;
    open();
    window->startHidden(std::chrono::milliseconds(300));
    QTRY_VERIFY(window->isVisible());
    EXPECT_TRUE(window->isMinimized());
    EXPECT_EQ(tray->icon(), nullptr);
    EXPECT_EQ(ends, 0);
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

namespace tamberly::test {
namespace {

TEST_F(WindowTest, TheListSortedByTheLastCheckActsOnTheEntryTheUserSees) {
    platform.cache = home.dir().file("cache/tamberly");
    storeList("a:1*b:2*c:3*");
    CheckResults(platform.cache + "/check-results.txt")
        .replace({{"b:2", true, 200, Anonymity::Unknown, Tunnel::Unknown, "200 ms", 1},
                  {"c:3", true, 100, Anonymity::Unknown, Tunnel::Unknown, "100 ms", 1}});
    setValue("Window", "SortByCheck", "1");
    open();
    EXPECT_THAT(rows(), ElementsAre("c:3", "b:2", "a:1"));
    const auto mark = [this](int row) {
        return list()->model()->index(row, 0).data(ProxyListModel::MarkRole).toString().toStdString();
    };
    EXPECT_EQ(mark(0), "100 ms") << "the kept marks at start-up, beside their rows";
    EXPECT_EQ(mark(2), "");
    emit child<QMenu>("proxyMenu")->aboutToShow();
    EXPECT_TRUE(action("sortByCheck")->isChecked());

    select(0);
    action("useSelected")->trigger();
    EXPECT_EQ(serverInForce(platform.proxy), "c:3");

    // Back to the stored order: the selected entry stays selected.
    select(2);
    action("sortByCheck")->trigger();
    EXPECT_THAT(rows(), ElementsAre("a:1", "b:2", "c:3"));
    EXPECT_EQ(list()->currentIndex().row(), 0);
    action("useSelected")->trigger();
    EXPECT_EQ(serverInForce(platform.proxy), "a:1");
    EXPECT_EQ(value("Window", "SortByCheck"), "0");
}

TEST_F(WindowTest, WatchingShowsItsProxyInTheIconsToolTip) {
    // The probe has no test page to reach here: it says so, and the tip still names the proxy watched.
    storeList("a:1*");
    setValue("Server", "URL", "http://127.0.0.1:9");
    open();
    select(0);
    action("useSelected")->trigger();
    EXPECT_TRUE(tray->toolTip.isEmpty()) << "with watching off the tip stays the icon's own";
    action("watchProxy")->trigger();
    EXPECT_EQ(value("Watch", "Enabled"), "1");
    EXPECT_EQ(tray->toolTip, "Tamberly: a:1");
    QTRY_VERIFY_WITH_TIMEOUT(status().contains("no switch"), 10000);
    EXPECT_EQ(serverInForce(platform.proxy), "a:1");
    action("watchProxy")->trigger();
    EXPECT_TRUE(tray->toolTip.isEmpty());
}

} // namespace
} // namespace tamberly::test
