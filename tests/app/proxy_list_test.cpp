// The window's proxy list as the commands see it: rows kept byte for byte and in order, and a new list that drops
// the old rows and their selection.
#include "app/main_window.h"
#include "app/proxy_list_model.h"
#include "app/tray_icon.h"
#include "core/proxy_list_store.h"

#include <QItemSelectionModel>
#include <QListView>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamberly {
namespace {

using namespace std::string_literals;

struct ProxyListTest : ::testing::Test {
    QtTrayIcon tray{[] { return false; }, [] { return TrayHost::XEmbed; }};
    MainWindow window{tray, [](Command) {}, [] {}};
    View& view = window;
    QListView* list = window.findChild<QListView*>(QStringLiteral("proxyList"));
    QAbstractItemModel* model = list->model();
};

TEST_F(ProxyListTest, RowsKeepTheirBytesAndOrder) {
    const std::string text = "a:1**\r\nb:2 *\xC3\xA9:3*nul\0inside:4*tail"s;
    view.showEntries(splitListText(text));

    const std::vector<std::string> expected = {"a:1", "", "\r\nb:2 ", "\xC3\xA9:3", "nul\0inside:4"s};
    ASSERT_EQ(view.entryCount(), static_cast<int>(expected.size()));
    ASSERT_EQ(model->rowCount(), view.entryCount());
    for (int i = 0; i < view.entryCount(); ++i)
        EXPECT_EQ(view.entry(i), expected[static_cast<std::size_t>(i)]) << "row " << i;
    EXPECT_EQ(model->index(3, 0).data().toString(), QString::fromUtf8("\xC3\xA9:3"));
    EXPECT_EQ(view.entry(-1), "");
    EXPECT_EQ(view.entry(5), "");
    EXPECT_FALSE(model->index(5, 0).isValid());
    EXPECT_FALSE(model->index(0, 1).isValid());
    EXPECT_FALSE(model->index(0, 0, model->index(0, 0)).isValid());
}

TEST_F(ProxyListTest, ANewListDropsTheRowsAndTheSelection) {
    view.showEntries(splitListText("a:1*b:2*"));
    list->selectionModel()->select(model->index(1, 0), QItemSelectionModel::ClearAndSelect);
    ASSERT_EQ(view.selectedRow(), 1);

    view.showEntries({});
    EXPECT_EQ(view.entryCount(), 0);
    EXPECT_EQ(view.selectedRow(), std::nullopt);
    view.showEntries(splitListText("c:3*"));
    EXPECT_EQ(view.entryCount(), 1);
    EXPECT_EQ(view.entry(0), "c:3");
    EXPECT_EQ(view.selectedRow(), std::nullopt);
}

TEST_F(ProxyListTest, ARowThatIsNoProxyAddressIsMarkedWhereNoVerdictStands) {
    // The rows' own text, the mark without a check, and the mark over a check's verdicts (rows 0 to 2 checked).
    struct Row {
        std::string text;
        const char* unchecked;
        RowMark verdict;
        const char* checked;
    };
    const std::vector<Row> table = {
        {"10.0.0.1:80", "", {false, "refused"}, "refused"},
        {"host:99999", "not a proxy address", {}, "not a proxy address"},
        {"", "not a proxy address", {}, "not a proxy address"},
        {"http=a:1;https=b:2", "", {}, ""},
        {"socks5://[2001:db8::1]:1080", "", {}, ""},
        {"a b:80", "not a proxy address", {}, "not a proxy address"},
    };
    std::vector<std::string_view> rows;
    for (const Row& row : table)
        rows.push_back(row.text);
    view.showEntries(rows);
    const auto marks = [&] {
        std::vector<std::string> out;
        for (int i = 0; i < model->rowCount(); ++i) {
            out.push_back(model->index(i, 0).data(ProxyListModel::MarkRole).toString().toStdString());
            EXPECT_EQ(model->index(i, 0).data().toString().toStdString(), table[static_cast<std::size_t>(i)].text);
        }
        return out;
    };
    std::vector<std::string> unchecked, checked;
    std::vector<RowMark> verdicts;
    for (const Row& row : table) {
        unchecked.push_back(row.unchecked);
        checked.push_back(row.checked);
        verdicts.push_back(row.verdict);
    }
    EXPECT_EQ(marks(), unchecked);
    verdicts.resize(3);
    view.showMarks(verdicts);
    EXPECT_EQ(marks(), checked);
    EXPECT_FALSE(model->index(1, 0).data(ProxyListModel::MarkWorksRole).toBool());
    view.clearMarks();
    EXPECT_EQ(marks(), unchecked);
}

} // namespace
} // namespace tamberly
