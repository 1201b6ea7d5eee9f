#include "platform/qt/proxy_list_model.h"

namespace tamberly {

int ProxyListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count(); }

QModelIndex ProxyListModel::index(int row, int column, const QModelIndex& parent) const {
    return row >= 0 && row < count() && column == 0 && !parent.isValid() ? createIndex(row, 0) : QModelIndex();
}

QVariant ProxyListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const std::string_view text = row(index.row());
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string_view ProxyListModel::row(int i) const {
    const auto at = static_cast<std::size_t>(i);
    const std::size_t begin = at == 0 ? 0 : m_ends[at - 1];
    return std::string_view(m_bytes).substr(begin, m_ends[at] - begin);
}

void ProxyListModel::append(const std::vector<std::string_view>& rows) {
    if (rows.empty())
        return;
    std::size_t bytes = 0;
    for (const auto& r : rows)
        bytes += r.size();
    beginInsertRows({}, count(), count() + static_cast<int>(rows.size()) - 1);
    m_bytes.reserve(m_bytes.size() + bytes);
    m_ends.reserve(m_ends.size() + rows.size());
    for (const auto& r : rows) {
        m_bytes += r;
        m_ends.push_back(m_bytes.size());
    }
    endInsertRows();
}

void ProxyListModel::clear() {
    beginResetModel();
    // Released rather than kept: the next list may be far shorter.
    m_bytes = std::string();
    m_ends = std::vector<std::size_t>();
    endResetModel();
}

} // namespace tamberly
