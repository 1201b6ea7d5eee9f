// What the window shows of the desktop's proxy setting: problems in the status line once a command has ended,
// long texts whole in the tool tip, the Internet Options panel that names what is written or opens the
// desktop's own page.
#include "app/app.h"
#include "platform/browser_locator.h"
#include "platform/linux/desktop_registry.h"
#include "platform/qt/internet_options_dialog.h"
#include "platform/qt/qt_status_line.h"
#include "platform/qt/tray_icon.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QTextDocument>
#include <QListView>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>

namespace tamberly::test {
namespace {

// The tool tip as the user reads it: it is rich text, the status text escaped in it.
std::string plainToolTip(const QLabel& label) {
    QTextDocument shown;
    shown.setHtml(label.toolTip());
    return shown.toPlainText().toStdString();
}

TEST(StatusLineText, ALongTextEndsInAnEllipsisWithTheWholeTextAsToolTip) {
    QLabel label;
    label.setGeometry(0, 0, 265, 17);
    QtStatusLine status(label);
    const std::string longText = "The GNOME proxy setting (org.gnome.system.proxy) could not be changed: the session "
                                 "bus did not answer within 3 s.";
    status.setCaption(longText);
    EXPECT_EQ(status.caption(), longText);
    EXPECT_TRUE(label.text().endsWith(QChar(0x2026))) << label.text().toStdString();
    EXPECT_EQ(plainToolTip(label), longText);

    status.setCaption("Proxy desactivated");
    EXPECT_EQ(label.text(), QStringLiteral("Proxy desactivated"));
    EXPECT_TRUE(label.toolTip().isEmpty());
}

// "Use this proxy" on a GNOME desktop without a session bus: the registry file has both values, and the status
// line names the desktop setting that could not be changed, once, after the command's own text.
TEST(DesktopProblems, AreShownOnceInTheStatusLineAfterTheCommand) {
    ScopedUserHome home;
    const char* saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string savedAddress = saved ? saved : "";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + home.dir().file("no-bus")).c_str(), 1);
    FakeRegistry file;
    DesktopProxyOptions options;
    options.gnome = options.gnomeDesktop = true;
    DesktopRegistry registry(file, options);
    FakeShell shell;
    struct : BrowserLocator {
        std::string findBrowser() override { return "/usr/bin/true"; }
    } locator;
    FakeRandom random;
    FakeDialogs dialogs;
    FakeTransferControl inet;
    QtTrayIcon tray([] { return false; }, [] { return TrayHost::XEmbed; });
    App app(AppPlatform{registry, shell, locator, random, dialogs, inet, tray, [] {}});
    Tamberly& window = app.window();
    registry.setReporter([&window](const std::string& problem) { window.reportDesktopProblem(problem); });

    window.findChild<QAction*>(QStringLiteral("Mnuthisproxy"))->trigger();
    auto* status = window.findChild<QLabel*>(QStringLiteral("status"));
    EXPECT_EQ(status->text().toStdString(), "Proxy changed to : ");
    QCoreApplication::processEvents();
    const std::string shown = plainToolTip(*status);
    EXPECT_EQ(shown.rfind("The GNOME proxy setting (org.gnome.system.proxy) could not be changed: no session bus", 0),
              0u)
        << shown;
    EXPECT_EQ(shown.find("could not be changed", 30), shown.rfind("could not be changed")) << "shown twice: " << shown;
    EXPECT_EQ(regValueText(file.values.at(kProxyEnableName)), "1");
    EXPECT_TRUE(dialogs.messages.empty());
    if (saved)
        ::setenv("DBUS_SESSION_BUS_ADDRESS", savedAddress.c_str(), 1);
    else
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

TEST(InternetOptionsPanel, OpensTheDesktopsOwnPageWhereThereIsOneElseNamesWhatIsWritten) {
    QWidget owner;
    FakeRegistry registry;
    FakeDialogs dialogs;
    int desktopPages = 0;
    bool desktopHasPage = true;
    InternetOptionsDialog panel(registry, dialogs, &owner, {"the KDE proxy setting (/home/u/.config/kioslaverc)"}, [&] {
        ++desktopPages;
        return desktopHasPage;
    });
    panel.open();
    EXPECT_EQ(desktopPages, 1);
    EXPECT_TRUE(owner.findChildren<InternetOptionsWindow*>().isEmpty());

    desktopHasPage = false;
    panel.open();
    const auto windows = owner.findChildren<InternetOptionsWindow*>();
    ASSERT_EQ(windows.size(), 1);
    auto* written = windows.front()->findChild<QLabel*>(QStringLiteral("writtenSettings"));
    ASSERT_NE(written, nullptr);
    EXPECT_TRUE(written->text().contains(QStringLiteral("registry.reg")));
    EXPECT_TRUE(written->text().contains(QStringLiteral("the KDE proxy setting (/home/u/.config/kioslaverc)")));
}

} // namespace
} // namespace tamberly::test
