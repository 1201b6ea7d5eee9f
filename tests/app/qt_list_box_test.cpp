#include "platform/qt/qt_list_box.h"

#include "platform/qt/proxy_list_model.h"
#include "storage/proxy_list_store.h"

#include <QItemSelectionModel>
#include <QListView>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamberly {
namespace {

struct ListBoxParts {
    ProxyListModel model;
    QListView view;
    QtListBox box{view, model};
    ListBoxParts() { view.setModel(&model); }
};

TEST(QtListBoxTest, RowsKeepTheirBytesAndOrderWhicheverWayTheyArrive) {
    ListBoxParts p;
    p.box.AddItem("first");
    FillList("a:1**\r\nb:2 *\xC3\xA9:3*tail", p.box);
    p.box.AddItems({"x:9", ""});

    const std::vector<std::string> expected = {"first", "a:1", "", "\r\nb:2 ", "\xC3\xA9:3", "x:9", ""};
    ASSERT_EQ(p.box.ListCount(), static_cast<int>(expected.size()));
    for (int i = 0; i < p.box.ListCount(); ++i)
        EXPECT_EQ(p.box.List(i), expected[static_cast<std::size_t>(i)]) << "row " << i;
    EXPECT_EQ(p.model.index(4, 0).data().toString(), QString::fromUtf8("\xC3\xA9:3"));
    EXPECT_EQ(p.box.List(-1), "");
    EXPECT_EQ(p.box.List(7), "");
    EXPECT_FALSE(p.model.index(7, 0).isValid());
    EXPECT_FALSE(p.model.index(0, 1).isValid());
    EXPECT_FALSE(p.model.index(0, 0, p.model.index(0, 0)).isValid());
}

TEST(QtListBoxTest, ClearDropsRowsAndSelectionBeforeTheNextList) {
    ListBoxParts p;
    FillList("a:1*b:2*", p.box);
    p.view.selectionModel()->select(p.model.index(1, 0), QItemSelectionModel::ClearAndSelect);
    ASSERT_EQ(p.box.ListIndex(), 1);

    p.box.Clear();
    EXPECT_EQ(p.box.ListCount(), 0);
    EXPECT_EQ(p.box.ListIndex(), -1);
    FillList("c:3*", p.box);
    EXPECT_EQ(p.box.ListCount(), 1);
    EXPECT_EQ(p.box.List(0), "c:3");
}

} // namespace
} // namespace tamberly
