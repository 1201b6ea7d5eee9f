#include "app/check_mark_delegate.h"

#include "app/proxy_list_model.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

namespace tamberly {

void CheckMarkDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QString mark = index.data(ProxyListModel::MarkRole).toString();
    if (mark.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const bool works = index.data(ProxyListModel::MarkWorksRole).toBool();
    if (!works) {
        const QColor grey = item.palette.color(QPalette::Disabled, QPalette::Text);
        item.palette.setColor(QPalette::Text, grey);
    }
    // The entry keeps the row's left part, shortened with "..." where the mark needs the room.
    constexpr int kGap = 6;
    const int markWidth = item.fontMetrics.horizontalAdvance(mark) + 2 * kGap;
    item.text = item.fontMetrics.elidedText(item.text, Qt::ElideRight, std::max(0, item.rect.width() - markWidth));
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    painter->save();
    const bool selected = item.state & QStyle::State_Selected;
    painter->setPen(item.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(item.font);
    painter->drawText(item.rect.adjusted(0, 0, -kGap, 0), Qt::AlignRight | Qt::AlignVCenter, mark);
    painter->restore();
}

} // namespace tamberly
