#include "app/tamberly.h"

#include "platform/browser_locator.h"
#include "storage/ini_file.h"
#include "storage/proxy_list_store.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

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

struct WindowTest : ::testing::Test {
    ScopedUserHome home;
    FakeRegistry registry;
    FakeShell shell;
    StubLocator locator;
    FakeRandom random;
    FakeDialogs dialogs;
    FakeTransferControl inet;
    bool trayAvailable = true;
    int ends = 0;
    std::unique_ptr<Tamberly> window;

    std::string iniPath() const { return home.configDir() + "/prefs.ini"; }

    Tamberly& open() {
        TamberlyServices services{registry, shell, locator, random, &dialogs, &inet};
        services.trayAvailable = [this] { return trayAvailable; };
        services.endProcess = [this] { ++ends; };
        window = std::make_unique<Tamberly>(services);
        return *window;
    }
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
    EXPECT_EQ(captions(window->popupMenu()->actions()),
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
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
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
    EXPECT_EQ(window->IniPath(), home.configDir() + "/prefs.ini");
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

TEST_F(WindowTest, HideAddsOneIconAndTheIconDispatchesOnMessageNumbers) {
    ASSERT_TRUE(SaveList("a:1*b:2*", iniPath()));
    open();
    window->show();
    child<QLabel>("status")->setText("kept");
    action("Mnuhide")->trigger();
    ASSERT_NE(window->trayIcon(), nullptr);
    EXPECT_TRUE(window->trayIcon()->isVisible());
    EXPECT_EQ(window->trayIcon()->toolTip(), ":-)");
    EXPECT_FALSE(window->isVisible());

    // Every message but a double click (0x203) and a right-button release (0x205) is ignored.
    for (int message : {0x200, 0x201, 0x202, 0x204, 0x206, 0x207, 0x208, 0x209}) {
        window->pichook_MouseDown(message);
        EXPECT_FALSE(window->isVisible()) << message;
        EXPECT_FALSE(window->popupMenu()->isVisible()) << message;
    }
    window->pichook_MouseDown(0x205);
    EXPECT_TRUE(window->popupMenu()->isVisible());
    window->popupMenu()->hide();

    window->pichook_MouseDown(0x203);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->trayIcon()->isVisible());
    EXPECT_EQ(child<QLabel>("status")->text(), "kept");
    EXPECT_EQ(rows(), (std::vector<std::string>{"a:1", "b:2"}));

    action("Mnuhide")->trigger();
    EXPECT_EQ(window->findChildren<QSystemTrayIcon*>().size(), 1);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowTest, IconActivationsMapOntoMessageNumbers) {
    open();
    window->show();
    action("Mnuhide")->trigger();
    QMetaObject::invokeMethod(window->trayIcon(), "activated", Q_ARG(QSystemTrayIcon::ActivationReason,
                                                                   QSystemTrayIcon::Trigger));
    EXPECT_FALSE(window->isVisible());
    QMetaObject::invokeMethod(window->trayIcon(), "activated", Q_ARG(QSystemTrayIcon::ActivationReason,
                                                                   QSystemTrayIcon::Context));
    EXPECT_TRUE(window->popupMenu()->isVisible());
    window->popupMenu()->hide();
    QMetaObject::invokeMethod(window->trayIcon(), "activated", Q_ARG(QSystemTrayIcon::ActivationReason,
                                                                   QSystemTrayIcon::DoubleClick));
    EXPECT_TRUE(window->isVisible());
}

TEST_F(WindowTest, WithoutANotificationAreaHideMinimises) {
    trayAvailable = false;
    open();
    window->show();
    action("Mnuhide")->trigger();
    EXPECT_EQ(window->trayIcon(), nullptr);
    EXPECT_TRUE(window->isMinimized());
}

TEST_F(WindowTest, EveryWayOutRemovesTheIconOnceAndEnds) {
    const std::function<void(WindowTest&)> ways[] = {
        [](WindowTest& t) { t.action("Mnuquit")->trigger(); },
        [](WindowTest& t) { QTest::keyClick(t.window.get(), Qt::Key_Q, Qt::ControlModifier); },
        [](WindowTest& t) { t.action("Mnuquit2")->trigger(); },
        [](WindowTest& t) { t.window->close(); },
    };
    int n = 0;
    for (const auto& way : ways) {
        ends = 0;
        open();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->activateWindow();
        action("Mnuhide")->trigger();
        window->pichook_MouseDown(0x203);
        way(*this);
        EXPECT_EQ(ends, 1) << "way " << n;
        EXPECT_EQ(window->trayRemovals(), 1) << "way " << n;
        EXPECT_FALSE(window->trayIcon()->isVisible()) << "way " << n;
        ++n;
    }
}

} // namespace
} // namespace tamberly
