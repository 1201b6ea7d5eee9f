#include "platform/qt/qt_list_box.h"

#include "platform/qt/proxy_list_model.h"

#include <QItemSelectionModel>
#include <QListView>

namespace tamberly {

void QtListBox::AddItem(const std::string& text) { m_model.append({text}); }

void QtListBox::AddItems(const std::vector<std::string>& rows) {
    m_model.append(std::vector<std::string_view>(rows.begin(), rows.end()));
}

void QtListBox::AddItemViews(const std::vector<std::string_view>& rows) { m_model.append(rows); }

void QtListBox::Clear() { m_model.clear(); }

int QtListBox::ListIndex() const {
    const QModelIndexList selected = m_view.selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

int QtListBox::ListCount() const { return m_model.count(); }

std::string QtListBox::List(int i) const {
    return i >= 0 && i < m_model.count() ? std::string(m_model.row(i)) : std::string();
}

} // namespace tamberly
