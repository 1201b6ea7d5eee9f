#pragma once

#include "app/tray_host.h"

#include <QObject>

#include <functional>
#include <memory>

class QIcon;
class QMenu;
class QSystemTrayIcon;

namespace tamberly {

/// The window's notification-area icon, shown while the window is hidden.
class TrayIcon {
public:
    // The mouse messages over the icon, numbered as the Windows notification area numbers them.
    static constexpr int kLeftButtonDown = 0x201;
    static constexpr int kLeftButtonDoubleClick = 0x203;
    static constexpr int kRightButtonUp = 0x205;
    static constexpr int kMiddleButtonDown = 0x207;

    /// Receives the number of each mouse message over the icon.
    using MouseHandler = std::function<void(int message)>;

    virtual ~TrayIcon() = default;
    /// False where the desktop has no notification area.
    virtual bool available() = 0;
    /// Shows the icon; the first call makes it, later ones show the same one. popup holds the commands for a host
    /// that shows the icon's menu itself; onMouse gets the icon's mouse messages.
    virtual void show(const QIcon& icon, QMenu& popup, MouseHandler onMouse) = 0;
    /// Hides the icon, if there is one.
    virtual void remove() = 0;
    /// The icon's tool tip, now and once it is shown; the empty text gives it its own.
    virtual void setToolTip(const QString& text) = 0;
    /// Tells the user something while the window may be hidden: beside the icon while it is shown, else through
    /// the desktop's notification service.
    virtual void showMessage(const QString& text) = 0;
};

/// The icon over QSystemTrayIcon, which it owns as a child, dispatching activations on mouse message numbers after
/// the kind of host.
class QtTrayIcon final : public QObject, public TrayIcon {
    Q_OBJECT
public:
    /// Asks the desktop whether it has a notification area and which kind of host it runs.
    QtTrayIcon();
    /// As above, with the two questions answered by the functions given.
    QtTrayIcon(std::function<bool()> available, std::function<TrayHost()> host);
    ~QtTrayIcon() override;

    bool available() override;
    void show(const QIcon& icon, QMenu& popup, MouseHandler onMouse) override;
    void remove() override;
    void setToolTip(const QString& text) override;
    void showMessage(const QString& text) override;

private:
    std::function<bool()> m_available;
    std::function<TrayHost()> m_host;
    TrayHost m_kind = TrayHost::XEmbed;
    MouseHandler m_onMouse;
    QSystemTrayIcon* m_icon = nullptr;
    QString m_toolTip;
    std::unique_ptr<QMenu> m_hostMenu;
};

} // namespace tamberly
