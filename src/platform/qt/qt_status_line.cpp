#include "platform/qt/qt_status_line.h"

#include <QLabel>

namespace tamberly {

void QtStatusLine::setCaption(const std::string& text) {
    m_text = text;
    const QString full = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // A text wider than the line ends in an ellipsis, and the whole of it is the tool tip.
    const QString shown = m_label.fontMetrics().elidedText(full, Qt::ElideRight, m_label.width());
    m_label.setText(shown);
    // Tool tips take anything that looks like markup for markup: the text goes in escaped, always as rich text.
    m_label.setToolTip(shown == full ? QString() : QStringLiteral("<qt>%1</qt>").arg(full.toHtmlEscaped()));
}

} // namespace tamberly
