// Which kind of notification area the desktop has, asked of a session bus of the test's own.
#include "app/tray_host.h"

#include <QDBusConnection>
#include <QObject>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <sys/types.h>

namespace tamberly {
namespace {

// The watcher a StatusNotifierItem host runs, reduced to the property Qt reads.
class Watcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    explicit Watcher(bool host) : m_host(host) {}
    bool hostRegistered() const { return m_host; }

private:
    bool m_host;
};

// A dbus-daemon of the test's own; the process's session bus points at it before anything uses the bus.
class PrivateBus {
public:
    PrivateBus() {
        FILE* out = ::popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1", "r");
        char line[512] = {};
        if (out && std::fgets(line, sizeof line, out)) {
            m_address = std::string(line).substr(0, std::string(line).find('\n'));
            if (std::fgets(line, sizeof line, out))
                m_pid = static_cast<pid_t>(std::atol(line));
        }
        if (out)
            ::pclose(out);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", m_address.c_str(), 1);
    }
    ~PrivateBus() {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        // Not our child (it forked away): wait until it has gone rather than reap it.
        for (int i = 0; i < 200 && ::kill(m_pid, 0) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    bool running() const { return !m_address.empty() && m_pid > 0; }
    const std::string& address() const { return m_address; }

private:
    std::string m_address;
    pid_t m_pid = -1;
};

TEST(TrayHost, IsStatusNotifierItemOnlyWhereAWatcherHasAHost) {
    PrivateBus bus;
    ASSERT_TRUE(bus.running()) << "dbus-daemon did not start";
    EXPECT_EQ(currentTrayHost(), TrayHost::XEmbed) << "no watcher";

    // Served from a thread of its own: the question is a blocking call from this one.
    QThread serving;
    serving.start();
    for (const bool host : {false, true}) {
        const QString name = host ? QStringLiteral("with-host") : QStringLiteral("without-host");
        QDBusConnection connection = QDBusConnection::connectToBus(QString::fromStdString(bus.address()), name);
        ASSERT_TRUE(connection.isConnected());
        auto* watcher = new Watcher(host);
        watcher->moveToThread(&serving);
        QObject::connect(&serving, &QThread::finished, watcher, &QObject::deleteLater);
        ASSERT_TRUE(connection.registerObject(QStringLiteral("/StatusNotifierWatcher"), watcher,
                                              QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(connection.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));

        EXPECT_EQ(currentTrayHost(), host ? TrayHost::StatusNotifierItem : TrayHost::XEmbed) << name.toStdString();

        connection.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        connection.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        QDBusConnection::disconnectFromBus(name);
    }
    serving.quit();
    serving.wait();
}

} // namespace
} // namespace tamberly

#include "tray_host_test.moc"
