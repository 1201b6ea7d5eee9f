// "Show Internet Options": the system's own page where there is one, else the program's own proxy settings window over
// the proxy in force, which names the places a change is written to.
#include "app/proxy_settings_dialog.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <gmock/gmock.h>

namespace tamberly::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The window's controls, found as a user finds them: there is one of each.
QLineEdit* serverEdit(QWidget* dialog) {
    return dialog->findChild<QLineEdit*>();
}
QCheckBox* useProxyBox(QWidget* dialog) {
    return dialog->findChild<QCheckBox*>();
}
QDialogButtonBox* buttons(QWidget* dialog) {
    return dialog->findChild<QDialogButtonBox*>();
}

ProxySetting manual(const std::string& servers) {
    return ProxySetting::manual(*parseProxyServers(servers).servers);
}

class ProxySettingsDialogTest : public WindowTest {
protected:
    ProxySettingsDialogTest() {
        platform.proxy.hasSettingsPage = false;
        platform.proxy.setting = manual("10.0.0.1:80");
        open();
    }

    QList<ProxySettingsDialog*> dialogsShown() const { return window->findChildren<ProxySettingsDialog*>(); }
    ProxySettingsDialog* openOne() {
        action("showProxySettings")->trigger();
        return dialogsShown().value(0);
    }
    // Runs the deletions that closing a window asked for.
    static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    std::vector<std::string> changes() const {
        std::vector<std::string> out;
        for (const auto& change : platform.proxy.applied)
            out.push_back(FakeSystemProxy::describe(change));
        return out;
    }
};

TEST_F(ProxySettingsDialogTest, OpensTheSystemsOwnPageWhereThereIsOneElseNamesWhereAChangeIsWritten) {
    platform.proxy.hasSettingsPage = true;
    action("showProxySettings")->trigger();
    EXPECT_EQ(platform.proxy.pagesOpened, 1);
    EXPECT_THAT(dialogsShown(), IsEmpty());

    platform.proxy.hasSettingsPage = false;
    platform.proxy.placeNames = {"registry.reg", "the KDE proxy setting (/home/u/.config/kioslaverc)"};
    ProxySettingsDialog* dialog = openOne();
    ASSERT_NE(dialog, nullptr);
    auto* places = dialog->findChild<QLabel*>(QStringLiteral("places"));
    ASSERT_NE(places, nullptr);
    EXPECT_TRUE(places->text().contains(QStringLiteral("registry.reg")));
    EXPECT_TRUE(places->text().contains(QStringLiteral("the KDE proxy setting (/home/u/.config/kioslaverc)")));
}

TEST_F(ProxySettingsDialogTest, EachOpeningShowsANewWindowWithTheValuesOfNow) {
    action("showProxySettings")->trigger();
    platform.proxy.setting = manual("10.0.0.2:3128");
    platform.proxy.setting.mode = ProxyMode::Off;
    action("showProxySettings")->trigger();

    const auto shown = dialogsShown();
    ASSERT_EQ(shown.size(), 2);
    for (auto* dialog : shown) {
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_FALSE(dialog->isModal());
        EXPECT_EQ(dialog->windowTitle(), "Internet Options");
        EXPECT_EQ(useProxyBox(dialog)->text(), "Use a proxy server");
    }
    EXPECT_EQ(serverEdit(shown[0])->text(), "10.0.0.1:80");
    EXPECT_TRUE(useProxyBox(shown[0])->isChecked());
    EXPECT_EQ(serverEdit(shown[1])->text(), "10.0.0.2:3128");
    EXPECT_FALSE(useProxyBox(shown[1])->isChecked());
}

// The window's box and "Show current proxy" read the setting in force alike: the box is on for a manual proxy.
TEST_F(ProxySettingsDialogTest, UseProxyBoxAgreesWithShowCurrentProxy) {
    const ProxySetting settings[] = {
        manual("10.0.0.1:80"),
        manual("http=a.example:1;https=b.example:2"),
        {ProxyMode::Manual, ProxyServers{}, {}, {}},
        {ProxyMode::Off, *parseProxyServers("10.0.0.1:80").servers, {}, {}},
        {ProxyMode::Off, ProxyServers{}, {}, {}},
        {ProxyMode::Automatic, ProxyServers{}, {}, "http://wpad.example/proxy.pac"},
        {ProxyMode::Automatic, ProxyServers{}, {}, {}},
    };
    for (const auto& setting : settings) {
        platform.proxy.setting = setting;
        action("showCurrentProxy")->trigger();
        ProxySettingsDialog* dialog = openOne();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(useProxyBox(dialog)->isChecked(),
                  status().startsWith("Current proxy : ") || status() == "Manual proxy with no server set")
            << FakeSystemProxy::describe(setting) << " shows " << status().toStdString();
        dialog->close();
        flushDeletes();
    }
}

TEST_F(ProxySettingsDialogTest, OkWritesTheServerAndTheSwitchAtOnceAndCloses) {
    QPointer<ProxySettingsDialog> dialog = openOne();
    serverEdit(dialog)->setText("proxy.example:3128");
    useProxyBox(dialog)->setChecked(false);

    buttons(dialog)->button(QDialogButtonBox::Ok)->click();
    flushDeletes();

    EXPECT_THAT(changes(), ElementsAre("off proxy.example:3128"));
    EXPECT_TRUE(dialog.isNull()) << "deleted on close";
    EXPECT_THAT(dialogs.shown, IsEmpty());
}

TEST_F(ProxySettingsDialogTest, CancelWritesNothing) {
    QPointer<ProxySettingsDialog> dialog = openOne();
    serverEdit(dialog)->setText("changed:1");

    buttons(dialog)->button(QDialogButtonBox::Cancel)->click();
    flushDeletes();

    EXPECT_THAT(platform.proxy.applied, IsEmpty());
    EXPECT_TRUE(dialog.isNull());
}

TEST_F(ProxySettingsDialogTest, AFailedWriteIsShownAndKeepsTheWindowOpen) {
    QPointer<ProxySettingsDialog> dialog = openOne();
    serverEdit(dialog)->setText("proxy.example:3128");
    platform.proxy.recordFailure = "The proxy setting could not be changed: cannot write registry.reg: Read-only file "
                                   "system";

    buttons(dialog)->button(QDialogButtonBox::Ok)->click();
    flushDeletes();

    EXPECT_THAT(dialogs.messages(), ElementsAre(platform.proxy.recordFailure));
    EXPECT_EQ(platform.proxy.setting, manual("10.0.0.1:80")) << "nothing of the change is in force";
    ASSERT_FALSE(dialog.isNull());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(serverEdit(dialog)->text(), "proxy.example:3128") << "the typed text is kept for another try";
}

TEST_F(ProxySettingsDialogTest, UnreadableSettingsAreReportedInsteadOfShownBlank) {
    platform.proxy.readFailure = "cannot read registry.reg: the file is damaged";

    action("showProxySettings")->trigger();

    EXPECT_THAT(dialogsShown(), IsEmpty());
    EXPECT_THAT(dialogs.messages(),
                ElementsAre("The proxy settings could not be read: cannot read registry.reg: the file is damaged"));
    EXPECT_THAT(platform.proxy.applied, IsEmpty());
}

} // namespace
} // namespace tamberly::test
