// A StatusNotifierItem host's watcher, as a panel runs it: it claims the watcher's name on the session bus, says a
// host is there, and prints "registered SERVICE" for each icon that registers with it.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QObject>
#include <QStringList>

#include <cstdio>

namespace {

class Watcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return m_items; }

public slots:
    void RegisterStatusNotifierItem(const QString& service) {
        m_items << service;
        std::printf("registered %s\n", service.toUtf8().constData());
        std::fflush(stdout);
        emit StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QStringList m_items;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher;
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher, QDBusConnection::ExportAllContents) ||
        !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
        std::fprintf(stderr, "fake_tray_watcher: cannot claim org.kde.StatusNotifierWatcher\n");
        return 1;
    }
    return QCoreApplication::exec();
}

#include "fake_tray_watcher.moc"
