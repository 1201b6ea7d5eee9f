// One program per settings folder, with the real program as the later start: it brings the running window forward
// (from the notification area, or minimised) and ends with 0; a start with another settings folder runs on its own.
#include "app/app.h"
#include "app/event_loop_wait.h"
#include "app/single_instance.h"
#include "app/tray_icon.h"
#include "core/settings.h"
#include "net/curl_http_transfer.h"
#include "platform/linux/instance_lock.h"
#include "platform/linux/user_paths.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace tamberly::test {
namespace {

// prefs.ini that keeps a start away from the desktop: no browser lookup, no desktop setting.
void quietSettings(const std::string& folder) {
    Settings settings(folder + "/prefs.ini");
    ASSERT_EQ(settings.setValue("Desktop", "LeaveAlone", "1"), "");
    ASSERT_EQ(settings.setBrowserPath("/bin/true"), "");
}

// Runs the event loop, where the first start takes its requests, until done() or about 20 s have passed.
bool waitInEventLoop(const std::function<bool()>& done) {
    const QDeadlineTimer deadline(20000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return done();
}

// The program, started as a user would, in the test's home (the environment ScopedUserHome set).
void startProgram(QProcess& program, const std::string& configHome = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!configHome.empty())
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(configHome));
    program.setProcessEnvironment(environment);
    program.setProgram(QStringLiteral(TAMBERLY_PROGRAM_PATH));
    program.start();
}

int socketsIn(const std::string& folder) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        count += entry.path().extension() == ".socket";
    return count;
}

TEST(SingleInstance, ASecondStartBringsTheRunningWindowForwardAndEndsWithZero) {
    ScopedUserHome home;
    quietSettings(configDir());
    InstanceLock lock(configDir(), runtimeDir());
    ASSERT_EQ(lock.role(), InstanceLock::Role::First) << lock.why();
    Settings settings(configDir() + "/prefs.ini");
    const std::unique_ptr<Platform> platform = createPlatform(
        {configDir(), settings.leaveDesktopAlone(), std::make_unique<CurlHttpTransfer>(EventLoopWait::factory())});
    QtTrayIcon tray([] { return true; }, [] { return TrayHost::XEmbed; });
    App app(settings, *platform, tray, [] {});
    MainWindow& window = app.window();
    ShowRequests requests(lock, [&window] { window.restore(); });

    const struct {
        const char* how;
        std::function<void()> put;
    } away[] = {
        {"hidden to the notification area", [&window] { window.hideToTray(); }},
        {"minimised", [&window] { window.showMinimized(); }},
    };
    for (const auto& c : away) {
        SCOPED_TRACE(c.how);
        window.show();
        c.put();
        QCoreApplication::processEvents();
        ASSERT_TRUE(!window.isVisible() || window.isMinimized());

        QProcess second;
        startProgram(second);
        ASSERT_TRUE(waitInEventLoop([&] { return second.state() == QProcess::NotRunning; })) << "it never ended";
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
        EXPECT_TRUE(window.isVisible());
        EXPECT_FALSE(window.isMinimized());
    }
    tray.remove();

    // Another settings folder, as tests use: the program starts and runs beside this one, listening for its own.
    TempDir otherHome;
    quietSettings(otherHome.file("tamberly"));
    QProcess other;
    startProgram(other, otherHome.path());
    EXPECT_TRUE(waitInEventLoop([&] { return socketsIn(runtimeDir()) == 2 || other.state() == QProcess::NotRunning; }));
    EXPECT_EQ(other.state(), QProcess::Running) << other.readAllStandardError().toStdString();
    EXPECT_EQ(socketsIn(runtimeDir()), 2);
    other.kill();
    other.waitForFinished();
}

} // namespace
} // namespace tamberly::test
