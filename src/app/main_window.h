#pragma once

#include "commands/command.h"
#include "commands/view.h"

#include <QIcon>
#include <QMainWindow>

#include <functional>
#include <string>

class QLabel;
class QListView;
class QMenu;
class QPushButton;

namespace tamberly {

class ProxyListModel;
class TrayIcon;

/// The main window: the status line, the proxy list, "Use and launch", the menus and the notification-area icon. It
/// is the commands' view, and turns each click into a command.
class MainWindow final : public QMainWindow, public View {
    Q_OBJECT
public:
    /// run carries out a command; quit ends the program. tray is the icon "Hide" shows.
    MainWindow(TrayIcon& tray, std::function<void(Command)> run, std::function<void()> quit, QWidget* parent = nullptr);
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
    void setStatus(const std::string& text) override;
    void tell(const std::string& text, const std::string& title = {}) override;
    Answer ask(const std::string& question, const std::string& title) override;
    std::optional<std::string> askText(const std::string& prompt, const std::string& title) override;
    void editProxySetting(const std::string& server, bool on, const std::vector<std::string>& places,
                          SaveProxySetting save) override;

    /// "Hide": into the notification area, or minimised where there is none.
    void hideToTray();
    /// A mouse message of the notification-area icon: a double click restores the window, a right button release
    /// opens the pop-up.
    void trayActivated(int message);
    /// Shows the window again, in front.
    void restore();
    /// Every way out: the icon goes, then the program ends.
    void quit();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenus();

    TrayIcon& m_tray;
    std::function<void(Command)> m_run;
    std::function<void()> m_quit;
    QIcon m_icon;

    QLabel* m_status = nullptr;
    QListView* m_list = nullptr;
    ProxyListModel* m_model = nullptr;
    QPushButton* m_useAndLaunch = nullptr;
    QMenu* m_trayMenu = nullptr;
};

} // namespace tamberly
