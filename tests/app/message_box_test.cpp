// The window's dialogs as the commands see them: messages and questions in plain text under the right title, Yes
// the default, and the answer or the typed text returned.
#include "app/main_window.h"
#include "app/tray_icon.h"
#include "core/settings.h"
#include "dialog_answerer.h"
#include "support/temp_dir.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace tamberly::test {
namespace {

using Shown = DialogAnswerer::Shown;

struct MessageBoxTest : ::testing::Test {
    MessageBoxTest() { QApplication::setApplicationDisplayName("Tamberly"); }
    QtTrayIcon tray{[] { return false; }, [] { return TrayHost::XEmbed; }};
    TempDir home;
    Settings settings{home.file("prefs.ini")};
    MainWindow window{tray, settings, [](Command) {}, [] {}};
    View& view = window;
    DialogAnswerer dialogs;
};

TEST_F(MessageBoxTest, MessagesAndQuestionsShowPlainTextAndReturnTheAnswer) {
    view.tell("<b>10.0.0.1:80</b>");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, Shown::Message) << "a message has no No button";
    EXPECT_EQ(dialogs.shown[0].title, "Tamberly") << "the application's title when none is given";
    EXPECT_EQ(dialogs.shown[0].text, "<b>10.0.0.1:80</b>");
    EXPECT_EQ(dialogs.shown[0].format, Qt::PlainText);

    for (auto [button, expected] :
         {std::pair{QMessageBox::Yes, View::Answer::Yes}, std::pair{QMessageBox::No, View::Answer::No}}) {
        dialogs.shown.clear();
        dialogs.replies = {button};
        EXPECT_EQ(view.ask("Do you want to report <i>x</i> as dead proxy ?", "Dead Proxy"), expected);
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].kind, Shown::Question);
        EXPECT_EQ(dialogs.shown[0].title, "Dead Proxy");
        EXPECT_EQ(dialogs.shown[0].text, "Do you want to report <i>x</i> as dead proxy ?");
        EXPECT_EQ(dialogs.shown[0].format, Qt::PlainText);
        EXPECT_EQ(dialogs.shown[0].defaultButton, QMessageBox::Yes);
    }
}

TEST_F(MessageBoxTest, ATextPromptReturnsWhatWasTypedOrNothingWhenCancelled) {
    const std::optional<std::string> cases[] = {"10.0.0.1:80", "caf\xC3\xA9:80", "", std::nullopt};
    for (const auto& typed : cases) {
        dialogs.shown.clear();
        dialogs.typed = {typed};
        EXPECT_EQ(view.askText("Enter the proxy address (ip:port) ex:127.0.0.1:80", "Add a proxy"), typed);
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].kind, Shown::Text);
        EXPECT_EQ(dialogs.shown[0].title, "Add a proxy");
        EXPECT_EQ(dialogs.shown[0].text, "Enter the proxy address (ip:port) ex:127.0.0.1:80");
    }
}

} // namespace
} // namespace tamberly::test
