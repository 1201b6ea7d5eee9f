#include "app/check_mark_delegate.h"

#include "app/proxy_list_model.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace tamberly {
namespace {

// Between the entry and its mark, and between the mark and the row's right end.
constexpr int kGap = 6;
// The least contrast of normal text that reads well.
constexpr double kReadable = 4.5;

double luminance(const QColor& colour) {
    const auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

QColor mix(const QColor& from, const QColor& to, double share) {
    const auto channel = [share](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * share)); };
    return QColor(channel(from.red(), to.red()), channel(from.green(), to.green()), channel(from.blue(), to.blue()));
}

} // namespace

double CheckMarkDelegate::contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor CheckMarkDelegate::deadColour(const QPalette& palette) {
    const QColor base = palette.color(QPalette::Base);
    const QColor text = palette.color(QPalette::Text);
    const QColor grey = palette.color(QPalette::Disabled, QPalette::Text).toRgb();
    // As grey as reads well: the disabled text, moved toward the text's own colour a step at a time.
    for (int step = 0; step <= 20; ++step) {
        const QColor candidate = mix(grey, text, step / 20.0);
        if (contrast(candidate, base) >= kReadable)
            return candidate;
    }
    // A palette whose own text is hard to read on its background: black or white, whichever reads better.
    return contrast(Qt::black, base) >= contrast(Qt::white, base) ? QColor(Qt::black) : QColor(Qt::white);
}

void CheckMarkDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QString mark = index.data(ProxyListModel::MarkRole).toString();
    if (mark.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    if (!index.data(ProxyListModel::MarkWorksRole).toBool())
        item.palette.setColor(item.palette.currentColorGroup(), QPalette::Text, deadColour(item.palette));
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();

    // The mark keeps the right end of the row's visible part, however wide the row is laid out; the entry is
    // shortened with "..." a gap before it, never drawn under it.
    int right = item.rect.right();
    if (const auto* view = qobject_cast<const QAbstractItemView*>(widget))
        right = std::min(right, view->viewport()->rect().right());
    const int markWidth = item.fontMetrics.horizontalAdvance(mark);
    const QRect markRect(right - kGap - markWidth + 1, item.rect.top(), markWidth, item.rect.height());
    const int textMargin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const int textLeft = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget).left() + textMargin;
    item.text = item.fontMetrics.elidedText(item.text, Qt::ElideRight, std::max(0, markRect.left() - kGap - textLeft));
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    painter->save();
    const bool selected = item.state & QStyle::State_Selected;
    painter->setPen(item.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(item.font);
    painter->drawText(markRect, Qt::AlignLeft | Qt::AlignVCenter, mark);
    painter->restore();
}

} // namespace tamberly
