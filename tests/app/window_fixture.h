#pragma once

// The real program (App: the main window and the commands) over a platform in memory, with a real settings file in
// a home folder of the test's own, the real notification-area icon over the host the test picks, and the window's
// dialogs answered as a user would.

#include "app/app.h"
#include "app/tray_icon.h"
#include "core/proxy_list_store.h"
#include "core/settings.h"
#include "dialog_answerer.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

#include <QAction>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tamberly::test {

// The real icon over the host the test picks, counting the removals.
class RecordingTray final : public TrayIcon {
public:
    RecordingTray(bool available, TrayHost host)
        : availableNow(available), m_real([this] { return availableNow; }, [host] { return host; }) {}
    /// Whether the desktop has a notification area now: a panel may start after the program.
    bool availableNow;
    int removals = 0;
    bool available() override { return m_real.available(); }
    void show(const QIcon& icon, QMenu& popup, MouseHandler onMouse) override { m_real.show(icon, popup, onMouse); }
    void remove() override {
        ++removals;
        m_real.remove();
    }
    /// The tool tip set last and every message shown.
    QString toolTip;
    QStringList messages;
    void setToolTip(const QString& text) override {
        toolTip = text;
        m_real.setToolTip(text);
    }
    void showMessage(const QString& text) override { messages << text; }
    /// The icons made so far.
    QList<QSystemTrayIcon*> icons() const { return m_real.findChildren<QSystemTrayIcon*>(); }
    QSystemTrayIcon* icon() const { return icons().value(0); }

private:
    QtTrayIcon m_real;
};

class WindowTest : public ::testing::Test {
protected:
    /// Starts the program anew over prefs.ini as it is now (start-up runs), with the platform given.
    MainWindow& open(Platform& over) {
        app.reset();
        tray = std::make_unique<RecordingTray>(trayAvailable, trayHost);
        settings = std::make_unique<Settings>(prefs);
        app = std::make_unique<App>(*settings, over, *tray, [this] { ++ends; });
        window = &app->window();
        return *window;
    }
    MainWindow& open() { return open(platform); }

    /// Writes prefs.ini as the program or a user's editor would, behind the running program's back.
    void setValue(const std::string& section, const std::string& key, const std::string& value) {
        Settings(prefs).setValue(section, key, value);
    }
    std::string value(const std::string& section, const std::string& key) const {
        return Settings(prefs).value(section, key);
    }
    void storeList(const std::string& text) {
        Settings file(prefs);
        ASSERT_EQ(ProxyListStore(file).save(text), "");
    }

    template <typename T> T* child(const char* name) const { return window->findChild<T*>(QString::fromUtf8(name)); }
    QAction* action(const char* name) const { return child<QAction>(name); }
    QListView* list() const { return child<QListView>("proxyList"); }
    QLabel* statusLine() const { return child<QLabel>("status"); }
    QString status() const { return statusLine()->text(); }
    QMenu* trayMenu() const { return child<QMenu>("trayMenu"); }
    /// The rows as the list shows them.
    std::vector<std::string> rows() const {
        std::vector<std::string> out;
        for (int i = 0; i < list()->model()->rowCount(); ++i)
            out.push_back(list()->model()->index(i, 0).data().toString().toStdString());
        return out;
    }
    void select(int row) const { list()->setCurrentIndex(list()->model()->index(row, 0)); }

    ScopedUserHome home;
    std::string prefs = home.configDir() + "/prefs.ini";
    FakePlatform platform;
    DialogAnswerer dialogs;
    bool trayAvailable = true;
    TrayHost trayHost = TrayHost::XEmbed;
    int ends = 0;
    // Made in this order, so the program goes before the icon and the settings it refers to.
    std::unique_ptr<RecordingTray> tray;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<App> app;
    MainWindow* window = nullptr;
};

} // namespace tamberly::test
