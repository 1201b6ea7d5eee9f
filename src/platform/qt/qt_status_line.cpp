#include "platform/qt/qt_status_line.h"

#include <QLabel>

namespace tamberly {

void QtStatusLine::setCaption(const std::string& text) {
    m_text = text;
    const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    m_label.setText(shown);
    // The status line has a fixed width; a longer text is cut off there, so pointing at it shows it whole.
    const bool fits = m_label.fontMetrics().horizontalAdvance(shown) <= m_label.contentsRect().width();
    // Tool tips take anything that looks like markup for markup: the text goes in escaped, always as rich text.
    m_label.setToolTip(fits ? QString() : QStringLiteral("<qt>%1</qt>").arg(shown.toHtmlEscaped()));
}

} // namespace tamberly
