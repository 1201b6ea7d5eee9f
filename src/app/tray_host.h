#pragma once

namespace tamberly {

/// How the desktop shows the notification-area icon.
enum class TrayHost {
    /// A system tray that embeds the icon's window and passes every click on, double clicks included.
    XEmbed,
    /// A StatusNotifierItem host (KDE Plasma, GNOME's AppIndicator extension, most Wayland panels): it reads the
    /// icon over D-Bus, reports a left click only as "activate", and shows the icon's menu where it chooses.
    StatusNotifierItem,
};

/// The kind of host Qt uses for a new icon: StatusNotifierItem when the session bus has a watcher with a host
/// registered, which is the test Qt makes itself; XEmbed otherwise.
TrayHost currentTrayHost();

/// Whether a notification area is there now, asked of the desktop itself each time: a StatusNotifierItem host, or
/// on X11 the owner of the system tray selection. Qt's own answer must not be asked before there is one: Qt keeps
/// its first "no StatusNotifierItem host" for the rest of the process, and a tray that appears later would never
/// get the icon.
bool notificationAreaPresent();

} // namespace tamberly
