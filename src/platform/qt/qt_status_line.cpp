#include "platform/qt/qt_status_line.h"

#include <QLabel>

namespace tamberly {

void QtStatusLine::setCaption(const std::string& text) {
    m_text = text;
    m_label.setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace tamberly
