#include "app/proxy_list_view.h"

#include <QKeyEvent>
#include <QPainter>

namespace tamberly {

void ProxyListView::paintEvent(QPaintEvent* event) {
    QListView::paintEvent(event);
    if (model() && model()->rowCount() > 0)
        return;
    // A new user's first sight is this empty list: it says where the rows come from, in the list itself.
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const int margin = fontMetrics().averageCharWidth();
    painter.drawText(viewport()->rect().adjusted(margin, margin, -margin, -margin), Qt::AlignCenter | Qt::TextWordWrap,
                     QString::fromUtf8(kEmptyHint));
}

void ProxyListView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() & ~Qt::KeypadModifier)
            break;
        event->accept();
        emit launchRequested();
        return;
    case Qt::Key_Delete:
        if (event->modifiers() != Qt::NoModifier)
            break;
        event->accept();
        emit reportRequested();
        return;
    default:
        break;
    }
    QListView::keyPressEvent(event);
}

} // namespace tamberly
