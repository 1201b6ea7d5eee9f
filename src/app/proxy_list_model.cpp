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
    if (role == MarkRole || role == MarkWorksRole) {
        const auto at = static_cast<std::size_t>(index.row());
        const bool checked = at < m_marks.size() && !m_marks[at].text.empty();
        if (checked)
            return role == MarkRole ? QVariant(QString::fromStdString(m_marks[at].text)) : QVariant(m_marks[at].works);
        // Worked out for the rows on screen only, as their text is.
        if (isProxyAddress(row(index.row())))
            return {};
        return role == MarkRole ? QVariant(QString::fromUtf8(kNotAProxyAddress)) : QVariant(false);
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const std::string_view text = row(index.row());
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
    m_bytes.reserve(bytes);
    m_ends.reserve(rows.size());
    for (const auto& r : rows) {
        m_bytes += r;
        m_ends.push_back(m_bytes.size());
    }
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
