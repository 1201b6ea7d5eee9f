#include "app/tray_host.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QGuiApplication>
#include <QVariant>

#include <cstdlib>
#include <string>

#include <xcb/xcb.h>

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

namespace {

// The XEmbed tray's selection on the first screen has an owner.
bool xembedTrayPresent() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    const std::string name = "_NET_SYSTEM_TRAY_S0";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false; // nobody ever made the atom: no tray
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    return owned;
}

} // namespace

bool notificationAreaPresent() {
    return currentTrayHost() == TrayHost::StatusNotifierItem || xembedTrayPresent();
}

} // namespace tamberly
