#pragma once

#include <QAbstractListModel>

#include <string>
#include <vector>

namespace tamberly {

/// The rows of the proxy list box, kept as the exact bytes of each entry. Text for display is made only for the
/// rows on screen, so a list of 100,000 entries fills at once.
class ProxyListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    void append(const std::vector<std::string>& rows);
    void clear();
    const std::string& row(int i) const { return m_rows[static_cast<std::size_t>(i)]; }
    int count() const { return static_cast<int>(m_rows.size()); }

private:
    std::vector<std::string> m_rows;
};

} // namespace tamberly
