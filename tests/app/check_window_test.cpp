// "Check proxies" in the window: counting in the status line while the window keeps answering, the verdicts beside
// the rows without touching their text, "Busy", and quitting in the middle.
#include "app/proxy_list_model.h"
#include "support/http_test_server.h"
#include "support/test_proxy.h"
#include "window_fixture.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <algorithm>

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
    // A check still running answers another "Check proxies" with "Busy"; where none runs, this starts one.
    bool busy() const {
        check();
        return status() == "Busy";
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
    check();
    EXPECT_EQ(status(), "Busy");
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
    EXPECT_TRUE(QRegularExpression("^\\d+ ms$").match(mark(0)).hasMatch()) << mark(0).toStdString();
    EXPECT_TRUE(row(0).data(ProxyListModel::MarkWorksRole).toBool());
    EXPECT_EQ(mark(1), "needs password");
    EXPECT_EQ(mark(2), "wrong answer");
    EXPECT_GE(mark(3).chopped(3).toInt(), 500);
    EXPECT_EQ(mark(1999), "refused");
    EXPECT_FALSE(row(1999).data(ProxyListModel::MarkWorksRole).toBool());
    EXPECT_EQ(working.requests(), 1);

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
    ASSERT_TRUE(busy());
    QElapsedTimer quitting;
    quitting.start();
    action("quit")->trigger();
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(busy()) << "the check outlived Quit";
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
    EXPECT_FALSE(busy()) << "the old check still runs";
}

TEST_F(CheckWindowTest, SaysWhenThereIsNothingToCheckOrTheTestUrlFails) {
    open();
    check();
    EXPECT_EQ(status(), "No proxies to check.");
    EXPECT_FALSE(busy());
    EXPECT_EQ(status(), "No proxies to check.");

    TestProxy working(Mode::Forward), nothing(Mode::Refusing);
    setValue("Check", "URL", "http://" + nothing.entry() + "/Tamberly/check.php");
    download(working.entry() + "*", 1);
    check();
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("Check failed: "), 10000); // a bound against a hang
    EXPECT_TRUE(mark(0).isEmpty());
    EXPECT_EQ(working.requests(), 0);
}

} // namespace
} // namespace tamberly::test
