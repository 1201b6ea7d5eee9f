// The program's own Internet Options panel over the registry.
#include "platform/qt/internet_options_dialog.h"

#include "proxy/system_proxy.h"
#include "support/fakes.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace tamberly::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The window's controls, found as a user finds them: there is one of each.
QLineEdit* serverEdit(QWidget* window) {
    return window->findChild<QLineEdit*>();
}
QCheckBox* useProxyBox(QWidget* window) {
    return window->findChild<QCheckBox*>();
}
QDialogButtonBox* buttons(QWidget* window) {
    return window->findChild<QDialogButtonBox*>();
}

/// A registry whose store cannot be read.
class UnreadableRegistry final : public Registry {
public:
    int writes = 0;
    void RegWrite(const std::string&, const RegValue&, const std::string&) override { ++writes; }
    std::optional<RegValue> RegRead(const std::string&) override {
        throw RegistryError("the registry file is damaged");
    }
};

class InternetOptionsTest : public ::testing::Test {
protected:
    InternetOptionsTest() {
        registry.values[kProxyServerName] = std::string("10.0.0.1:80");
        registry.values[kProxyEnableName] = std::uint32_t{1};
    }

    QList<InternetOptionsWindow*> windows() const { return owner.findChildren<InternetOptionsWindow*>(); }

    // Runs the deletions that closing a window asked for.
    static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    QWidget owner;
    FakeRegistry registry;
    FakeDialogs dialogs;
    InternetOptionsDialog panel{registry, dialogs, &owner};
};

TEST_F(InternetOptionsTest, EachOpenShowsANewWindowWithTheCurrentValues) {
    panel.open();
    registry.values[kProxyServerName] = std::string("10.0.0.2:3128");
    registry.values[kProxyEnableName] = std::uint32_t{0};
    panel.open();

    const auto shown = windows();
    ASSERT_EQ(shown.size(), 2);
    for (auto* window : shown) {
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(window->isModal());
        EXPECT_EQ(window->windowTitle(), "Internet Options");
        EXPECT_EQ(useProxyBox(window)->text(), "Use a proxy server");
    }
    EXPECT_EQ(serverEdit(shown[0])->text(), "10.0.0.1:80");
    EXPECT_TRUE(useProxyBox(shown[0])->isChecked());
    EXPECT_EQ(serverEdit(shown[1])->text(), "10.0.0.2:3128");
    EXPECT_FALSE(useProxyBox(shown[1])->isChecked());
}

// The panel's box and "Show current proxy" read ProxyEnable alike, odd stored texts included.
TEST_F(InternetOptionsTest, UseProxyBoxAgreesWithShowCurrentProxy) {
    const RegValue values[] = {std::uint32_t{1},   std::uint32_t{0},  std::string("1"),   std::string("\n1"),
                               std::string(" 1"),  std::string("+1"), std::string("01"),  std::string("1 "),
                               std::string("\r1"), std::string("2"),  std::string("yes"), std::string("")};
    FakeStatusLine status;
    SystemProxy proxy(registry, status, dialogs);
    for (const auto& value : values) {
        registry.values[kProxyEnableName] = value;
        proxy.currproxy_Click();
        panel.open();
        const auto shown = windows();
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(useProxyBox(shown[0])->isChecked(), status.text != "Proxy desactivated")
            << "ProxyEnable \"" << regValueText(value) << "\" shows " << status.text;
        shown[0]->close();
        flushDeletes();
    }
}

TEST_F(InternetOptionsTest, OkWritesBothValuesAndCloses) {
    panel.open();
    QPointer<InternetOptionsWindow> window = windows().at(0);
    serverEdit(window)->setText("proxy.example:3128");
    useProxyBox(window)->setChecked(false);
    registry.log.clear();

    buttons(window)->button(QDialogButtonBox::Ok)->click();
    flushDeletes();

    EXPECT_THAT(registry.log, ElementsAre(std::string("write ") + kProxyServerName + "=proxy.example:3128 (REG_SZ)",
                                          std::string("write ") + kProxyEnableName + "=0 (REG_DWORD)"));
    EXPECT_TRUE(window.isNull()) << "deleted on close";
}

TEST_F(InternetOptionsTest, CancelWritesNothing) {
    panel.open();
    QPointer<InternetOptionsWindow> window = windows().at(0);
    serverEdit(window)->setText("changed:1");
    registry.log.clear();

    buttons(window)->button(QDialogButtonBox::Cancel)->click();
    flushDeletes();

    EXPECT_THAT(registry.log, IsEmpty());
    EXPECT_TRUE(window.isNull());
}

TEST_F(InternetOptionsTest, AFailedWriteIsShownAndKeepsTheWindowOpen) {
    panel.open();
    QPointer<InternetOptionsWindow> window = windows().at(0);
    serverEdit(window)->setText("proxy.example:3128");
    registry.failWritesTo = kProxyServerName;
    registry.log.clear();

    buttons(window)->button(QDialogButtonBox::Ok)->click();
    flushDeletes();

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "The proxy settings could not be saved: the registry file is read-only");
    EXPECT_EQ(registry.log.size(), 1u) << "the proxy is not switched on after its server could not be written";
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(serverEdit(window)->text(), "proxy.example:3128") << "the typed text is kept for another try";
}

TEST_F(InternetOptionsTest, UnreadableSettingsAreReportedInsteadOfShownBlank) {
    UnreadableRegistry unreadable;
    InternetOptionsDialog broken{unreadable, dialogs, &owner};

    broken.open();

    EXPECT_TRUE(windows().isEmpty());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "The proxy settings could not be read: the registry file is damaged");
    EXPECT_EQ(unreadable.writes, 0);
}

} // namespace
} // namespace tamberly::test
