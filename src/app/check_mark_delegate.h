#pragma once

#include <QStyledItemDelegate>

namespace tamberly {

/// Paints a row of the proxy list with its mark: the entry as always, a working entry's latency right-aligned
/// beside it, and a dead entry (or one that is no proxy address) with its verdict, in a colour set apart from the
/// working rows that still reads well on the list's background.
class CheckMarkDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    /// The contrast ratio of two colours as the web's accessibility guidelines reckon it, from 1 to 21.
    static double contrast(const QColor& a, const QColor& b);
    /// The text colour of a dead row and its mark in palette's current group: its disabled text where that reads
    /// well on its Base (a contrast of at least 4.5), else the nearest colour toward its Text that does.
    static QColor deadColour(const QPalette& palette);
};

} // namespace tamberly
