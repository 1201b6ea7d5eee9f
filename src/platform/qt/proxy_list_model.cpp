#include "platform/qt/proxy_list_model.h"

namespace tamberly {

int ProxyListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count(); }

QVariant ProxyListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const std::string& text = row(index.row());
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void ProxyListModel::append(const std::vector<std::string>& rows) {
    if (rows.empty())
        return;
    beginInsertRows({}, count(), count() + static_cast<int>(rows.size()) - 1);
    m_rows.insert(m_rows.end(), rows.begin(), rows.end());
    endInsertRows();
}

void ProxyListModel::clear() {
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

} // namespace tamberly
