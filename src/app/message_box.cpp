#include "app/message_box.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace tamberly {
namespace {

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

int exec(QWidget* parent, const std::string& text, const std::string& title, QMessageBox::StandardButtons buttons,
         QMessageBox::StandardButton defaultButton) {
    QMessageBox box(QMessageBox::NoIcon, title.empty() ? QApplication::applicationDisplayName() : fromUtf8(title),
                    fromUtf8(text), buttons, parent);
    // Texts carry entries from the list server: never let Qt take them for rich text.
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return box.exec();
}

} // namespace

void showMessage(QWidget* parent, const std::string& text, const std::string& title) {
    exec(parent, text, title, QMessageBox::Ok, QMessageBox::Ok);
}

View::Answer askQuestion(QWidget* parent, const std::string& question, const std::string& title) {
    const int pressed = exec(parent, question, title, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    return pressed == QMessageBox::Yes ? View::Answer::Yes : View::Answer::No;
}

std::optional<std::string> askForText(QWidget* parent, const std::string& prompt, const std::string& title) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent, fromUtf8(title), fromUtf8(prompt), QLineEdit::Normal, {}, &ok);
    if (!ok)
        return std::nullopt;
    return text.toUtf8().toStdString();
}

} // namespace tamberly
