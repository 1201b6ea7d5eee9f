#pragma once

#include "commands/view.h"

#include <QAbstractListModel>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tamberly {

/// The rows of the proxy list box, kept as the exact bytes of each entry. Text for display is made only for the
/// rows on screen, so a list of 100,000 entries fills at once. A proxy check's marks ride beside the rows in roles
/// of their own; the display text stays the entry.
class ProxyListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        MarkRole = Qt::UserRole + 1, // the mark's text ("123 ms", "refused"); without a check result, kNotAProxyAddress
                                     // for a row that is no proxy address, else none
        MarkWorksRole,               // true for a working entry's mark
    };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    /// The view asks for every row's index when it lays a list out; answered here without the two virtual calls
    /// of the general check.
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    /// Replaces every row (and every mark) with copies of rows.
    void reset(const std::vector<std::string_view>& rows);
    /// Row i gets marks[i]; rows beyond the marks get none.
    void showMarks(std::vector<RowMark> marks);
    void clearMarks();
    /// Shows the rows in order: shown row i is row order[i]; an empty order, or one that does not fit the rows,
    /// shows them as stored. The rows themselves keep their stored numbers.
    void setOrder(std::vector<int> order);
    /// The stored row shown at row shown, and the shown row of stored row stored.
    int storedRow(int shown) const { return m_order.empty() ? shown : m_order[static_cast<std::size_t>(shown)]; }
    int shownRow(int stored) const { return m_order.empty() ? stored : m_shownAt[static_cast<std::size_t>(stored)]; }
    /// Row i in stored order, valid until the rows change.
    std::string_view row(int i) const;
    int count() const { return static_cast<int>(m_ends.size()); }

private:
    // All rows end to end in one buffer, row i ending at m_ends[i]: two allocations for the whole list rather than
    // one per row, which makes a long list quicker to fill and clear and smaller in memory.
    std::string m_bytes;
    std::vector<std::size_t> m_ends;
    std::vector<RowMark> m_marks;
    // The sorted view's order and its inverse; empty for the stored order.
    std::vector<int> m_order;
    std::vector<int> m_shownAt;
};

} // namespace tamberly
