// "Check proxies" in the window: counting in the status line while the window keeps answering, the verdicts beside
// the rows as soon as they are known without touching their text, stopping and quitting in the middle, and marks
// that read well in light and dark palettes.
#include "app/check_mark_delegate.h"
#include "app/proxy_list_model.h"
#include "commands/check_results.h"
#include "support/http_test_server.h"
#include "support/test_proxy.h"
#include "window_fixture.h"

#include <QElapsedTimer>
#include <QImage>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

namespace tamberly::test {
namespace {

using namespace std::chrono_literals;
using Mode = TestProxy::Mode;

class CheckWindowTest : public WindowTest {
protected:
    CheckWindowTest() {
        target.get("/Tamberly/check.php", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("tamberly-check-ok", "text/plain");
        });
        target.start();
        setValue("Check", "URL", target.baseUrl() + "/Tamberly/check.php");
    }

    // The list arrives as a download does.
    void download(const std::string& listText, int rows) {
        platform.transfer_.answer = [listText](const std::string&) { return TransferResult{true, listText, {}}; };
        action("downloadList")->trigger();
        ASSERT_EQ(list()->model()->rowCount(), rows);
    }
    QModelIndex row(int i) const { return list()->model()->index(i, 0); }
    QString mark(int i) const { return row(i).data(ProxyListModel::MarkRole).toString(); }
    void check() const { action("checkProxies")->trigger(); }
    bool counting() const { return status().startsWith("Checking "); }
    // A check still running answers another "Check proxies" with the offer to stop it (refused here); where none
    // runs, this starts one.
    bool running() {
        const std::size_t before = dialogs.shown.size();
        check();
        return dialogs.shown.size() > before;
    }

    HttpTestServer target;
};

TEST_F(CheckWindowTest, ChecksTwoThousandRowsWhileTheWindowKeepsAnswering) {
    TestProxy working(Mode::Forward), slow(Mode::Slow, 500ms), login(Mode::AskLogin), portal(Mode::OwnPage);
    std::vector<std::string> entries = {working.entry(), login.entry(), portal.entry(), slow.entry()};
    // Nothing listens on these: each is refused at once.
    for (int i = 0; entries.size() < 2000; ++i)
        entries.push_back("127.3." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + ":9");
    std::string listText;
    for (const auto& e : entries)
        listText += e + "*";
    open();
    download(listText, 2000);

    int ticks = 0;
    QStringList seen;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (counting())
            ++ticks;
        seen << status();
    });
    ticker.start(10);
    check();
    EXPECT_TRUE(counting()) << status().toStdString();
    EXPECT_TRUE(running()); // and goes on when the offer to stop is refused
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, DialogAnswerer::Shown::Question);
    EXPECT_EQ(dialogs.shown[0].text, "Proxies are being checked. Stop checking?");
    EXPECT_EQ(dialogs.shown[0].title, "Check proxies");
    // A bound against a check that never ends, far above what the check takes.
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("Checked"), 30000);
    ticker.stop();

    EXPECT_EQ(status(), "Checked 2000: 2 work");
    EXPECT_GE(ticks, 3) << "the window's timer kept firing during the check";
    const QRegularExpression counting("^Checking (\\d+) of 2000: (\\d+) work$");
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [&](const QString& s) {
        const auto m = counting.match(s);
        return m.hasMatch() && m.captured(1).toInt() > 0;
    })) << seen.join(" | ").left(300).toStdString();

    // The rows keep their text; the verdicts ride beside them.
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(row(i).data().toString().toStdString(), entries[static_cast<std::size_t>(i)]);
    // No judge answers here (no list server), so the grade known is the tunnel's: the test proxy refuses CONNECT.
    const QRegularExpression graded("^no tunnel · (\\d+) ms$");
    EXPECT_TRUE(graded.match(mark(0)).hasMatch()) << mark(0).toStdString();
    EXPECT_TRUE(row(0).data(ProxyListModel::MarkWorksRole).toBool());
    EXPECT_EQ(mark(1), "needs password");
    EXPECT_EQ(mark(2), "wrong answer");
    EXPECT_GE(graded.match(mark(3)).captured(1).toInt(), 500) << mark(3).toStdString();
    EXPECT_EQ(mark(1999), "refused");
    EXPECT_FALSE(row(1999).data(ProxyListModel::MarkWorksRole).toBool());
    EXPECT_EQ(working.requests(), 2); // the test page and CONNECT

    // Commands read the rows as before.
    select(1);
    action("useSelected")->trigger();
    ASSERT_TRUE(platform.proxy.setting.servers);
    EXPECT_EQ(formatProxyServers(*platform.proxy.setting.servers), login.entry());

    // The marks stay until the next download.
    window->grab(); // painted with the marks
    download("10.0.0.1:80*", 1);
    EXPECT_TRUE(mark(0).isEmpty());
}

TEST_F(CheckWindowTest, QuittingDuringACheckAbandonsItAtOnce) {
    TestProxy silent1(Mode::Silent), silent2(Mode::Silent);
    open();
    download(silent1.entry() + "*" + silent2.entry() + "*", 2);
    check();
    QTest::qWait(200);
    ASSERT_TRUE(running());
    QElapsedTimer quitting;
    quitting.start();
    action("quit")->trigger();
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(running()) << "the check outlived Quit";
    app.reset();
    // Far below the silent proxies' 5 s limit, which a check that was waited for would take.
    EXPECT_LT(quitting.elapsed(), 2000) << "the 5 s limit of the silent proxies was not waited for";
}

TEST_F(CheckWindowTest, ANewListDropsARunningCheck) {
    TestProxy silent(Mode::Silent), working(Mode::Forward);
    open();
    download(silent.entry() + "*" + working.entry() + "*", 2);
    check();
    QTRY_VERIFY(status() == "Checking 1 of 2: 1 work");
    download("10.0.0.1:80*", 1);
    EXPECT_EQ(status(), "List downloaded from server.");
    QTest::qWait(100);
    EXPECT_TRUE(mark(0).isEmpty()); // nothing of the old check lands on the new rows
    EXPECT_EQ(status(), "List downloaded from server.");
    EXPECT_FALSE(running()) << "the old check still runs";
}

TEST_F(CheckWindowTest, SaysWhenThereIsNothingToCheckOrTheTestUrlFails) {
    open();
    check();
    EXPECT_EQ(status(), "No proxies to check.");
    EXPECT_FALSE(running());
    EXPECT_EQ(status(), "No proxies to check.");

    TestProxy working(Mode::Forward), nothing(Mode::Refusing);
    setValue("Check", "URL", "http://" + nothing.entry() + "/Tamberly/check.php");
    download(working.entry() + "*", 1);
    check();
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("Check failed: "), 10000); // a bound against a hang
    EXPECT_TRUE(mark(0).isEmpty());
    EXPECT_EQ(working.requests(), 0);
}

TEST_F(CheckWindowTest, MarksRowsAsSoonAsKnownAndStopsEachWay) {
    TestProxy working(Mode::Forward), refusing(Mode::Refusing), silent(Mode::Silent);
    platform.cache = home.dir().file("cache/tamberly");
    open();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    const std::vector<std::function<void()>> ways = {
        [this] { QTest::keyClick(list(), Qt::Key_Escape); },
        [this] { action("stopCheck")->trigger(); },
        [this] {
            dialogs.replies.push_back(QMessageBox::Yes);
            check();
        },
    };
    for (std::size_t way = 0; way < ways.size(); ++way) {
        SCOPED_TRACE(way);
        download(working.entry() + "*" + refusing.entry() + "*no proxy here*" + silent.entry() + "*", 4);
        EXPECT_EQ(mark(2), "not a proxy address");
        check();
        // Three verdicts while the silent proxy's 5 s are far from over.
        QTRY_COMPARE(status(), QString("Checking 3 of 4: 1 work"));
        EXPECT_TRUE(QRegularExpression("^no tunnel · \\d+ ms$").match(mark(0)).hasMatch()) << mark(0).toStdString();
        EXPECT_EQ(mark(1), "refused");
        EXPECT_EQ(mark(2), "not a proxy address");
        EXPECT_TRUE(mark(3).isEmpty());

        ways[way]();
        EXPECT_EQ(status(), "Check stopped at 3 of 4: 1 work");
        EXPECT_FALSE(mark(0).isEmpty());
        EXPECT_EQ(mark(1), "refused");
        EXPECT_TRUE(mark(3).isEmpty());
        QTest::qWait(50);
        EXPECT_EQ(status(), "Check stopped at 3 of 4: 1 work"); // nothing of the stopped check comes after
        EXPECT_EQ(rows()[2], "no proxy here");
    }
    // Where nothing runs, Esc and "Stop checking" leave all as it is.
    QTest::keyClick(list(), Qt::Key_Escape);
    action("stopCheck")->trigger();
    EXPECT_EQ(status(), "Check stopped at 3 of 4: 1 work");
    EXPECT_EQ(mark(1), "refused");

    // A stopped check keeps what it found: nothing for the row that is no proxy, nor for the one not reached.
    CheckResults kept(platform.cache + "/check-results.txt");
    kept.load();
    ASSERT_EQ(kept.all().size(), 2u);
    ASSERT_NE(kept.find(working.entry()), nullptr);
    EXPECT_TRUE(kept.find(working.entry())->works);
    ASSERT_NE(kept.find(refusing.entry()), nullptr);
    EXPECT_EQ(kept.find(refusing.entry())->mark, "refused");
}

TEST_F(CheckWindowTest, TheCheckPageMustShowItsBody) {
    // A list server address that leads to a captive portal, which answers its own page for any path.
    HttpTestServer portalSite;
    portalSite.get(".*", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><body>Sign in to the hotel network</body></html>", "text/html");
    });
    portalSite.start();
    TestProxy working(Mode::Forward);
    setValue("Check", "URL", "");
    setValue("Server", "URL", portalSite.baseUrl());
    open();
    download(working.entry() + "*", 1);
    check();
    QTRY_VERIFY_WITH_TIMEOUT(!counting(), 10000); // a bound against a hang
    // The status line shows the whole text.
    EXPECT_EQ(status(), "Check failed: the test URL did not answer as a check page");
    EXPECT_TRUE(mark(0).isEmpty());
    EXPECT_EQ(working.requests(), 0);

    // The list server's own check page: a proxy that answers a page of its own is no working proxy.
    TestProxy portal(Mode::OwnPage);
    setValue("Server", "URL", target.baseUrl());
    download(working.entry() + "*" + portal.entry() + "*", 2);
    check();
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("Checked"), 10000);
    EXPECT_EQ(status(), "Checked 2: 1 work");
    EXPECT_EQ(mark(1), "wrong answer");
}

// Light and dark palettes of the program's own style, and one whose disabled text is all but invisible.
std::vector<std::pair<std::string, QPalette>> palettes() {
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
    const QPalette light = fusion->standardPalette();
    QPalette dark = light;
    for (const auto& [role, colour] :
         std::vector<std::pair<QPalette::ColorRole, QColor>>{{QPalette::Window, QColor(53, 53, 53)},
                                                             {QPalette::Base, QColor(30, 30, 30)},
                                                             {QPalette::Text, QColor(230, 230, 230)},
                                                             {QPalette::WindowText, QColor(230, 230, 230)},
                                                             {QPalette::Highlight, QColor(42, 130, 218)},
                                                             {QPalette::HighlightedText, Qt::black}}) {
        dark.setColor(role, colour);
        dark.setColor(QPalette::Disabled, role, colour);
    }
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(90, 90, 90));
    QPalette faint = light;
    faint.setColor(QPalette::Disabled, QPalette::Text, QColor(250, 250, 250));
    return {{"light", light}, {"dark", dark}, {"faint", faint}};
}

TEST_F(CheckWindowTest, DeadRowsReadWellAndLongNamesStopBeforeTheirMark) {
    const std::string longName = "a-very-long-proxy-name-that-goes-on-and-on.example.org:8080";
    open();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    // Enough rows for a scroll bar.
    std::vector<std::string_view> entries = {longName, "10.0.0.2:80", "no proxy here"};
    entries.resize(40, "10.0.0.3:80");
    window->showEntries(entries);
    window->showMarks({{false, "refused"}, {true, "12 ms"}});
    list()->doItemsLayout();
    for (const auto& [name, palette] : palettes()) {
        SCOPED_TRACE(name);
        list()->setPalette(palette);
        const QColor base = palette.color(QPalette::Base);
        const QColor dead = CheckMarkDelegate::deadColour(palette);
        EXPECT_GE(CheckMarkDelegate::contrast(dead, base), 4.5) << dead.name().toStdString();
        // Still set apart from a working row, where the palette leaves room for it.
        if (name != "faint") {
            EXPECT_NE(dead, palette.color(QPalette::Text));
        }

        const QImage shot = list()->viewport()->grab().toImage();
        const auto colours = [&](int row, int left, int right) {
            QSet<QRgb> found;
            const QRect r = list()->visualRect(list()->model()->index(row, 0));
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = std::max(0, left); x <= std::min(right, shot.width() - 1); ++x)
                    found.insert(shot.pixel(x, y));
            return found;
        };
        // The dead rows are drawn in that colour, the mark and the entry alike; the working row in the text's.
        const int width = shot.width();
        const int markLeft = width - 6 - list()->fontMetrics().horizontalAdvance("refused");
        EXPECT_TRUE(colours(0, markLeft, width - 1).contains(dead.rgb()));

        EXPECT_TRUE(colours(0, 0, markLeft - 8).contains(dead.rgb()));
        const int notAddressLeft = width - 6 - list()->fontMetrics().horizontalAdvance("not a proxy address");
        EXPECT_TRUE(colours(2, notAddressLeft, width - 1).contains(dead.rgb()));
        EXPECT_TRUE(colours(1, 0, width - 1).contains(palette.color(QPalette::Text).rgb()));
        // The long name ends, shortened, before the gap in front of its mark.
        EXPECT_EQ(colours(0, markLeft - 5, markLeft - 1), QSet<QRgb>{base.rgb()});
    }
    EXPECT_EQ(rows()[0], longName);
}

} // namespace
} // namespace tamberly::test

namespace tamberly::test {
namespace {

TEST_F(CheckWindowTest, TheResultsOutliveTheProgramAndTheWatcherSwitchesOverRealProxies) {
    platform.cache = home.dir().file("cache/tamberly");
    TestProxy working(TestProxy::Mode::Forward), dead(TestProxy::Mode::Refusing);
    open();
    download(dead.entry() + "*" + working.entry() + "*", 2);
    check();
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("Checked"), 10000);
    ASSERT_EQ(status(), "Checked 2: 1 work");

    // A new start shows what the check found, and watches the proxy found in force.
    setValue("Watch", "Enabled", "1");
    platform.proxy.setting = ProxySetting::manual(*parseProxyServers(dead.entry()).servers);
    open();
    EXPECT_EQ(mark(0), "refused");
    EXPECT_TRUE(mark(1).endsWith(" ms")) << mark(1).toStdString();
    QTRY_VERIFY_WITH_TIMEOUT(status().contains("now using"), 20000);
    EXPECT_TRUE(status().startsWith(
        QString::fromStdString(dead.entry() + " stopped answering; now using " + working.entry() + " (")))
        << status().toStdString();
    EXPECT_EQ(formatProxyServers(*platform.proxy.setting.servers), working.entry());
    EXPECT_EQ(tray->messages, QStringList{status()});
    EXPECT_TRUE(tray->toolTip.startsWith(QString::fromStdString("Tamberly: " + working.entry() + " (")));
}

} // namespace
} // namespace tamberly::test
