#pragma once

#include "net/check_command.h"

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

namespace tamberly {

class CheckMarks;
class Commands;
class ListBox;
class ProxyListModel;
class QtListBox;
class QtStatusLine;
class QtTimer;
class StatusLine;
class Timer;
class TrayIcon;

/// The main window: status line, proxy list, "Use and launch", the menus and the notification-area icon. It builds
/// its controls and forwards each event to its handler; the handlers are built over its controls and handed back
/// with forwardTo().
class Tamberly final : public QMainWindow {
    Q_OBJECT
public:
    /// tray is the notification-area icon "Hide" shows; endProcess ends the program.
    Tamberly(TrayIcon& tray, std::function<void()> endProcess, QWidget* parent = nullptr);
    ~Tamberly() override;

    // The controls the handlers work on.
    StatusLine& statusLine();
    ListBox& listBox();
    Timer& timer();
    CheckMarks& checkMarks();
    /// Runs a function later on the window's thread; callable from any thread.
    CheckCommand::Post post();

    /// Sends the window's events to the commands and the proxy check from now on; once, before the window is shown.
    void forwardTo(Commands& commands, CheckCommand& check);

    // The window's own commands.
    void Mnuhide_Click();
    void Mnuquit_Click();
    void Mnuquit2_Click();
    /// Dispatches a mouse message of the notification-area icon: 0x203 restores the window, 0x205 opens the pop-up.
    void pichook_MouseDown(int message);
    void RestoreWindow();
    /// Shows in the status line, once the running command has ended, that a desktop setting could not be changed.
    void reportDesktopProblem(const std::string& text);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void RemoveTrayIcon();
    void endProcess();

    TrayIcon& m_tray;
    std::function<void()> m_endProcess;
    Commands* m_commands = nullptr;
    CheckCommand* m_check = nullptr;
    QIcon m_imgIcon;

    QLabel* m_status = nullptr;
    QListView* m_Proxydisplay = nullptr;
    QPushButton* m_choice = nullptr;
    QMenu* m_Mnupopup = nullptr;
    QTimer m_Timer1;
    std::vector<std::string> m_desktopProblems;

    ProxyListModel* m_proxyModel = nullptr;
    std::unique_ptr<QtStatusLine> m_statusLine;
    std::unique_ptr<QtListBox> m_listBox;
    std::unique_ptr<QtTimer> m_timer;
};

} // namespace tamberly
