#include "platform/qt/qt_dialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace tamberly {
namespace {

QString fromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace

int QtDialogs::MsgBox(const std::string& text, int buttons, const std::string& title) {
    QMessageBox box(QMessageBox::NoIcon, title.empty() ? QApplication::applicationDisplayName() : fromUtf8(title),
                    fromUtf8(text), QMessageBox::NoButton, m_parent);
    // Texts carry entries from the list server: never let Qt take them for rich text.
    box.setTextFormat(Qt::PlainText);
    if (buttons == vbYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int pressed = box.exec();
    if (buttons != vbYesNo)
        return vbOK;
    return pressed == QMessageBox::Yes ? vbYes : vbNo;
}

std::string QtDialogs::InputBox(const std::string& prompt, const std::string& title) {
    bool ok = false;
    const QString text = QInputDialog::getText(m_parent, fromUtf8(title), fromUtf8(prompt), QLineEdit::Normal, {}, &ok);
    return ok ? text.toUtf8().toStdString() : std::string();
}

} // namespace tamberly
