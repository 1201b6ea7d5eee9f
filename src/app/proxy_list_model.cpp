#include "app/proxy_list_model.h"

#include "core/proxy_entry.h"

namespace tamberly {

int ProxyListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QModelIndex ProxyListModel::index(int row, int column, const QModelIndex& parent) const {
    return row >= 0 && row < count() && column == 0 && !parent.isValid() ? createIndex(row, 0) : QModelIndex();
}

QVariant ProxyListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count())
        return {};
    const int stored = storedRow(index.row());
    if (role == MarkRole || role == MarkWorksRole) {
        const auto at = static_cast<std::size_t>(stored);
        const bool checked = at < m_marks.size() && !m_marks[at].text.empty();
        if (checked)
            return role == MarkRole ? QVariant(QString::fromStdString(m_marks[at].text)) : QVariant(m_marks[at].works);
        // Worked out for the rows on screen only, as their text is.
        if (isProxyAddress(row(stored)))
            return {};
        return role == MarkRole ? QVariant(QString::fromUtf8(kNotAProxyAddress)) : QVariant(false);
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const std::string_view text = row(stored);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string_view ProxyListModel::row(int i) const {
    const auto at = static_cast<std::size_t>(i);
    const std::size_t begin = at == 0 ? 0 : m_ends[at - 1];
    return std::string_view(m_bytes).substr(begin, m_ends[at] - begin);
}

void ProxyListModel::reset(const std::vector<std::string_view>& rows) {
    std::size_t bytes = 0;
    for (const auto& r : rows)
        bytes += r.size();
    beginResetModel();
    // The old rows go first, and the new ones get buffers of their own size: a list of megabytes is never held
    // twice, and a long list leaves nothing behind for a shorter one.
    m_bytes = std::string();
    m_ends = std::vector<std::size_t>();
    m_marks = std::vector<RowMark>();
    m_order = std::vector<int>();
    m_shownAt = std::vector<int>();
    m_bytes.reserve(bytes);
    m_ends.reserve(rows.size());
    for (const auto& r : rows) {
        m_bytes += r;
        m_ends.push_back(m_bytes.size());
    }
    endResetModel();
}

void ProxyListModel::setOrder(std::vector<int> order) {
    std::vector<int> shownAt;
    if (order.size() == m_ends.size()) {
        shownAt.assign(order.size(), -1);
        for (std::size_t i = 0; i < order.size(); ++i) {
            const int stored = order[i];
            if (stored < 0 || stored >= count() || shownAt[static_cast<std::size_t>(stored)] != -1) {
                shownAt.clear();
                break;
            }
            shownAt[static_cast<std::size_t>(stored)] = static_cast<int>(i);
        }
    }
    // Not a permutation of the rows: the stored order.
    if (shownAt.empty())
        order.clear();
    beginResetModel();
    m_order = std::move(order);
    m_shownAt = std::move(shownAt);
    endResetModel();
}

void ProxyListModel::showMarks(std::vector<RowMark> marks) {
    m_marks = std::move(marks);
    if (count() > 0)
        emit dataChanged(index(0, 0), index(count() - 1, 0), {MarkRole, MarkWorksRole});
}

void ProxyListModel::clearMarks() {
    if (m_marks.empty())
        return;
    m_marks = std::vector<RowMark>();
    if (count() > 0)
        emit dataChanged(index(0, 0), index(count() - 1, 0), {MarkRole, MarkWorksRole});
}

} // namespace tamberly
