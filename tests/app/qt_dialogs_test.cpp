#include "platform/qt/qt_dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace tamberly {
namespace {

// Answers the message box that is about to open with the given button, after recording what it showed.
struct Answer {
    QMessageBox::StandardButton button;
    QString title = {};
    QString text = {};
    Qt::TextFormat format = Qt::AutoText;
    bool hasNo = false;

    void arm() {
        QTimer::singleShot(0, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            format = box->textFormat();
            hasNo = box->button(QMessageBox::No) != nullptr;
            box->button(button)->click();
        });
    }
};

TEST(QtDialogs, MessageBoxesShowPlainTextAndReturnTheAnswer) {
    QApplication::setApplicationDisplayName("Tamberly");
    QtDialogs dialogs(nullptr);

    Answer ok{QMessageBox::Ok};
    ok.arm();
    EXPECT_EQ(dialogs.MsgBox("<b>10.0.0.1:80</b>", Dialogs::vbOKOnly, ""), Dialogs::vbOK);
    EXPECT_EQ(ok.title, "Tamberly");
    EXPECT_EQ(ok.text, "<b>10.0.0.1:80</b>");
    EXPECT_EQ(ok.format, Qt::PlainText);
    EXPECT_FALSE(ok.hasNo);

    for (auto [button, expected] : {std::pair{QMessageBox::Yes, Dialogs::vbYes}, {QMessageBox::No, Dialogs::vbNo}}) {
        Answer answer{button};
        answer.arm();
        EXPECT_EQ(dialogs.MsgBox("Do you want to report <i>x</i> as dead proxy ?", Dialogs::vbYesNo, "Dead Proxy"),
                  expected);
        EXPECT_EQ(answer.title, "Dead Proxy");
        EXPECT_EQ(answer.format, Qt::PlainText);
        EXPECT_TRUE(answer.hasNo);
    }
}

} // namespace
} // namespace tamberly
