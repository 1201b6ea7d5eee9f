#pragma once

#include "commands/command.h"
#include "commands/view.h"

#include <QIcon>
#include <QMainWindow>
#include <QTimer>

#include <chrono>
#include <functional>
#include <string>

class QLabel;
class QMenu;
class QPushButton;

namespace tamberly {

class ProxyListModel;
class ProxyListView;
class Settings;
class TrayIcon;

/// The main window: the status line, the proxy list, "Use and launch", the menus and the notification-area icon. It
/// is the commands' view, and turns each click and key into a command. It opens at the size settings remember (at
/// least its own), and remembers the size the user gives it.
class MainWindow final : public QMainWindow, public View {
    Q_OBJECT
public:
    /// The client area the window opens with when settings remember none, and its least size.
    static constexpr QSize kDefaultClientArea{298, 209};

    /// How long a start hidden with the session waits for a notification area before it shows the window minimised.
    static constexpr std::chrono::seconds kTrayWait{60};

    /// run carries out a command; quit ends the program. tray is the icon "Hide" shows; settings holds the window's
    /// size; checked tells whether the item of a command that turns something on or off is checked now.
    MainWindow(TrayIcon& tray, Settings& settings, std::function<void(Command)> run, std::function<void()> quit,
               std::function<bool(Command)> checked = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    /// Runs a function later on the window's thread; callable from any thread.
    std::function<void(std::function<void()>)> post();

    // The view.
    void showEntries(const std::vector<std::string_view>& rows) override;
    int entryCount() const override;
    std::string entry(int row) const override;
    std::optional<int> selectedRow() const override;
    void showMarks(std::vector<RowMark> marks) override;
    void clearMarks() override;
    void showOrder(std::vector<int> order) override;
    void setStatus(const std::string& text) override;
    std::string statusText() const override;
    void notify(const std::string& text) override;
    void showWatchTip(const std::string& text) override;
    void tell(const std::string& text, const std::string& title = {}) override;
    Answer ask(const std::string& question, const std::string& title) override;
    std::optional<std::string> askText(const std::string& prompt, const std::string& title) override;
    void editProxySetting(const std::string& server, bool on, const std::vector<std::string>& places,
                          SaveProxySetting save) override;

    /// "Hide": into the notification area, or minimised where there is none.
    void hideToTray();
    /// A start with --hidden: the icon only, never the window. Where the session has no notification area yet (its
    /// panel starts later), the window waits for one, up to wait, then shows itself minimised.
    void startHidden(std::chrono::milliseconds wait = kTrayWait);
    /// A mouse message of the notification-area icon: a double click restores the window, a right button release
    /// opens the pop-up.
    void trayActivated(int message);
    /// Shows the window again, in front, as it was (a maximised window stays so): from the notification area, the
    /// task bar, or behind other windows.
    void restore();
    /// Every way out: the size is remembered, the icon goes, then the program ends.
    void quit();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    /// The icon where a notification area is there now, the window minimised once the wait is over; false while
    /// the wait goes on.
    bool trayOrMinimised();
    void buildMenus();
    /// Places the controls in the client area: the list takes the room the status line and the button leave.
    void layoutControls();
    /// The status line's height for its text at width: the lines the text takes, never less than one.
    int statusHeight(int width) const;
    /// Widens the window, as far as the screen allows, until the status text fits in two lines.
    void widenForStatus();
    /// Writes the client area's size to the settings when it is not what they hold.
    void saveSize();

    TrayIcon& m_tray;
    Settings& m_settings;
    std::function<void(Command)> m_run;
    std::function<void()> m_quit;
    std::function<bool(Command)> m_checked;
    // A hidden start's wait for a notification area: asked again at each tick until the deadline.
    QTimer m_trayWait;
    std::chrono::steady_clock::time_point m_trayWaitEnd;
    QIcon m_icon;
    /// Restarted by each resize and run once the size has settled: a drag is not written pixel by pixel.
    QTimer m_sizeSettled;
    QSize m_savedSize;

    QWidget* m_client = nullptr;
    QLabel* m_status = nullptr;
    ProxyListView* m_list = nullptr;
    ProxyListModel* m_model = nullptr;
    QPushButton* m_useAndLaunch = nullptr;
    QMenu* m_trayMenu = nullptr;
};

} // namespace tamberly
