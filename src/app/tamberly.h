#pragma once

#include "net/check_command.h"
#include "net/list_download.h"
#include "net/proxy_submission.h"
#include "net/website.h"
#include "platform/qt/tray_host.h"
#include "proxy/browser_launch.h"
#include "proxy/selection_commands.h"
#include "proxy/system_proxy.h"

#include <QIcon>
#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QListView;
class QMenu;
class QPushButton;
class QSystemTrayIcon;

namespace tamberly {

class BrowserLocator;
class DesktopWebBrowser;
class InternetOptionsDialog;
class Dialogs;
class ProxyListModel;
class QtListBox;
class QtStatusLine;
class QtTimer;
class QtTransferControl;
class RandomSource;
class Registry;
class Shell;
class TransferControl;

/// What the window reaches the platform through. The window makes its own dialogs, transfer control, tray checks
/// and way of ending unless one is given here (tests give fakes).
struct TamberlyServices {
    Registry& registry;
    Shell& shell;
    BrowserLocator& browserLocator;
    RandomSource& random;
    Dialogs* dialogs = nullptr;
    TransferControl* transfer = nullptr;
    std::function<bool()> trayAvailable = {};
    std::function<TrayHost()> trayHost = {};
    std::function<void()> endProcess = {};
    /// The desktop proxy settings a change writes, shown in the Internet Options dialog.
    std::vector<std::string> writtenSettings = {};
    /// Opens the desktop's own proxy page; false when there is none (the program's own dialog opens instead).
    std::function<bool()> openDesktopProxyPage = {};
};

/// The main window: status line, proxy list, "Use and launch", the menus and the notification-area icon.
/// Each event is forwarded to its handler.
class Tamberly final : public QMainWindow {
    Q_OBJECT
public:
    explicit Tamberly(TamberlyServices services, QWidget* parent = nullptr);
    ~Tamberly() override;

    /// Start-up: fills the list from the stored list and finds the browser on the first start.
    void Form_Load();

    // The window's own commands.
    void Mnuhide_Click();
    void Mnuquit_Click();
    void Mnuquit2_Click();
    /// Dispatches a mouse message of the notification-area icon: 0x203 restores the window, 0x205 opens the pop-up.
    void pichook_MouseDown(int message);
    void RestoreWindow();
    /// Shows in the status line, once the running command has ended, that a desktop setting could not be changed.
    void reportDesktopProblem(const std::string& text);

    const std::string& IniPath() const { return m_IniPath; }
    bool checkRunning() const { return m_check && m_check->running(); }
    QMenu* popupMenu() const { return m_Mnupopup; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    /// How many times the icon was removed; the program removes it once on its way out.
    int trayRemovals() const { return m_trayRemovals; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void RemoveTrayIcon();
    void endProcess();

    TamberlyServices m_services;
    std::string m_IniPath;
    std::string m_proxylist = "Label1";
    QIcon m_imgIcon;

    QLabel* m_status = nullptr;
    QListView* m_Proxydisplay = nullptr;
    QPushButton* m_choice = nullptr;
    QMenu* m_Mnupopup = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    TrayHost m_trayHost = TrayHost::XEmbed;
    QTimer m_Timer1;
    int m_trayRemovals = 0;
    std::vector<std::string> m_desktopProblems;

    ProxyListModel* m_proxyModel = nullptr;
    std::unique_ptr<QtStatusLine> m_statusLine;
    std::unique_ptr<QtListBox> m_listBox;
    std::unique_ptr<QtTimer> m_timer;
    std::unique_ptr<Dialogs> m_ownDialogs;
    Dialogs* m_dialogs = nullptr;
    std::unique_ptr<QtTransferControl> m_ownInet1;
    TransferControl* m_Inet1 = nullptr;
    std::unique_ptr<DesktopWebBrowser> m_webBrowser;
    std::unique_ptr<InternetOptionsDialog> m_optionsPanel;

    std::unique_ptr<SystemProxy> m_systemProxy;
    std::unique_ptr<BrowserLaunch> m_browserLaunch;
    std::unique_ptr<SelectionCommands> m_selection;
    std::unique_ptr<ListDownload> m_download;
    std::unique_ptr<ProxySubmission> m_submission;
    std::unique_ptr<Website> m_website;
    // Last, so that a running check is abandoned before anything it reports to goes.
    std::unique_ptr<CheckCommand> m_check;
};

} // namespace tamberly
