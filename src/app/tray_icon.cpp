#include "app/tray_icon.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace tamberly {

// The desktop first: Qt keeps its first answer about a StatusNotifierItem host for the rest of the process, so it is
// asked only once a notification area is there.
QtTrayIcon::QtTrayIcon()
    : QtTrayIcon([] { return notificationAreaPresent() && QSystemTrayIcon::isSystemTrayAvailable(); },
                 &currentTrayHost) {}

QtTrayIcon::QtTrayIcon(std::function<bool()> available, std::function<TrayHost()> host)
    : m_available(std::move(available)), m_host(std::move(host)) {}

QtTrayIcon::~QtTrayIcon() {
    // The icon before the menu it refers to.
    delete m_icon;
}

bool QtTrayIcon::available() {
    return m_available();
}

void QtTrayIcon::show(const QIcon& icon, QMenu& popup, MouseHandler onMouse) {
    m_onMouse = std::move(onMouse);
    if (!m_icon) {
        // Asked once: Qt, too, picks the kind of host when the icon is made and keeps it.
        m_kind = m_host();
        m_icon = new QSystemTrayIcon(icon, this);
        m_icon->setToolTip(m_toolTip.isEmpty() ? QStringLiteral(":-)") : m_toolTip);
        if (m_kind == TrayHost::StatusNotifierItem) {
            // Such a host shows the icon's menu itself, where it chooses (the pointer's place is unknown on
            // Wayland): hand it the pop-up's three commands.
            m_hostMenu = std::make_unique<QMenu>();
            m_hostMenu->setObjectName(QStringLiteral("trayMenuForHost"));
            m_hostMenu->addActions(popup.actions());
            m_icon->setContextMenu(m_hostMenu.get());
        }
        connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            int message = 0;
            switch (reason) {
            case QSystemTrayIcon::DoubleClick:
                message = kLeftButtonDoubleClick;
                break;
            case QSystemTrayIcon::Context:
                // Only a host that does not show the menu itself asks for it this way.
                message = kRightButtonUp;
                break;
            case QSystemTrayIcon::Trigger:
                // A StatusNotifierItem host never reports a double click, only this activation: the one way back
                // to the window there.
                message = m_kind == TrayHost::StatusNotifierItem ? kLeftButtonDoubleClick : kLeftButtonDown;
                break;
            case QSystemTrayIcon::MiddleClick:
                message = kMiddleButtonDown;
                break;
            case QSystemTrayIcon::Unknown:
                return;
            }
            if (m_onMouse)
                m_onMouse(message);
        });
    }
    m_icon->show();
}

void QtTrayIcon::remove() {
    if (m_icon)
        m_icon->hide();
}

void QtTrayIcon::setToolTip(const QString& text) {
    m_toolTip = text;
    if (m_icon)
        m_icon->setToolTip(text.isEmpty() ? QStringLiteral(":-)") : text);
}

void QtTrayIcon::showMessage(const QString& text) {
    if (m_icon && m_icon->isVisible()) {
        m_icon->showMessage(QStringLiteral("Tamberly"), text, QSystemTrayIcon::Information);
        return;
    }
    // No icon shown: the freedesktop notification service, where the session has one; sent without waiting.
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    notify << QStringLiteral("Tamberly") << 0u << QStringLiteral("org.tamberly.Tamberly") << QStringLiteral("Tamberly")
           << text << QStringList() << QVariantMap() << -1;
    QDBusConnection::sessionBus().call(notify, QDBus::NoBlock);
}

} // namespace tamberly
