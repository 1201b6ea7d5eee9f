#pragma once

#include <QStyledItemDelegate>

namespace tamberly {

/// Paints a row of the proxy list with its check mark: the entry as always, a working entry's latency
/// right-aligned beside it, and a dead entry greyed with its verdict.
class CheckMarkDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace tamberly
