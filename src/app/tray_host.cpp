#include "app/tray_host.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QVariant>

namespace tamberly {

TrayHost currentTrayHost() {
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return TrayHost::XEmbed;
    QDBusInterface host(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
    return host.isValid() && host.property("IsStatusNotifierHostRegistered").toBool() ? TrayHost::StatusNotifierItem
                                                                                      : TrayHost::XEmbed;
}

} // namespace tamberly
