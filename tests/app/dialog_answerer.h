#pragma once

// Answers the window's modal dialogs as a user would, from inside their own event loops, and records what each
// showed: a window's test gets the real message boxes and text prompts, never a stand-in.

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace tamberly::test {

class DialogAnswerer {
public:
    struct Shown {
        enum Kind { Message, Question, Text };
        Kind kind = Message;
        std::string title;
        std::string text;
        Qt::TextFormat format = Qt::AutoText;
        /// The button Enter presses; NoButton for a text prompt.
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    };
    /// Every dialog shown, in order.
    std::vector<Shown> shown;
    /// Buttons pressed for questions in turn; No when none is left.
    std::deque<QMessageBox::StandardButton> replies;
    /// Texts typed into prompts in turn; cancelled when none is left.
    std::deque<std::optional<std::string>> typed;

    DialogAnswerer() {
        // A timer fires inside a dialog's own event loop, which is where the dialog waits for its answer.
        m_timer.callOnTimeout([this] { answer(); });
        m_timer.start(5);
    }
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;

    /// The texts of the messages (not questions or prompts) shown so far.
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& s : shown)
            if (s.kind == Shown::Message)
                out.push_back(s.text);
        return out;
    }

private:
    void answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            const bool question = box->button(QMessageBox::No) != nullptr;
            shown.push_back({question ? Shown::Question : Shown::Message, box->windowTitle().toStdString(),
                             box->text().toStdString(), box->textFormat(), box->standardButton(box->defaultButton())});
            QMessageBox::StandardButton press = QMessageBox::Ok;
            if (question) {
                press = replies.empty() ? QMessageBox::No : replies.front();
                if (!replies.empty())
                    replies.pop_front();
            }
            box->button(press)->click();
        } else if (auto* prompt = qobject_cast<QInputDialog*>(modal)) {
            shown.push_back({Shown::Text, prompt->windowTitle().toStdString(), prompt->labelText().toStdString(),
                             Qt::AutoText, QMessageBox::NoButton});
            const std::optional<std::string> text = typed.empty() ? std::nullopt : typed.front();
            if (!typed.empty())
                typed.pop_front();
            if (text) {
                prompt->setTextValue(QString::fromStdString(*text));
                prompt->accept();
            } else {
                prompt->reject();
            }
        }
    }

    QTimer m_timer;
};

} // namespace tamberly::test
