// The window's proxy list as the commands see it: rows kept byte for byte and in order, and a new list that drops
// the old rows and their selection.
#include "app/main_window.h"
#include "app/tray_icon.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "support/temp_dir.h"

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
    test::TempDir home;
    Settings settings{home.file("prefs.ini")};
    MainWindow window{tray, settings, [](Command) {}, [] {}};
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

} // namespace
} // namespace tamberly
