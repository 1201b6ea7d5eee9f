#pragma once

#include "app_win32/win32_controls.h"

#include <memory>

#include <windows.h>

#include <shellapi.h>

namespace tamberly {
class Commands;
} // namespace tamberly

namespace tamberly::win32 {

/// The main window `Tamberly` on Win32: the controls and menus of the program's window, its events forwarded to the
/// same handlers as on every platform, and the notification-area icon. The handlers are built over its controls and
/// handed back with forwardTo().
class Tamberly final {
public:
    static constexpr UINT_PTR kTimer1 = 1;

    /// Makes the window and its controls, not shown yet.
    explicit Tamberly(HINSTANCE instance);
    ~Tamberly();
    Tamberly(const Tamberly&) = delete;
    Tamberly& operator=(const Tamberly&) = delete;

    // The controls the handlers work on.
    Win32StatusLine& statusLine() { return *m_statusLine; }
    Win32ListBox& listBox() { return *m_listBox; }
    Win32Timer& timer() { return *m_timer; }
    Win32Dialogs& dialogs() { return *m_dialogs; }

    /// Sends the window's events to the commands from now on; once, before the window is shown.
    void forwardTo(Commands& commands);
    /// Shows the window with the focus in the list.
    void show();
    /// The main loop's filter: the Ctrl+Q accelerator, then Tab between the list and the button.
    bool preTranslate(MSG& message);

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK pichookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    void command(int id);

    void Mnuhide_Click();
    void pichook_MouseDown(int message);
    void RestoreWindow();
    void RemoveTrayIcon();
    [[noreturn]] void endProcess();

    HINSTANCE m_instance;
    Commands* m_commands = nullptr;
    HWND m_window = nullptr;
    HWND m_status = nullptr;
    HWND m_Proxydisplay = nullptr;
    HWND m_choice = nullptr;
    HWND m_pichook = nullptr;
    HICON m_imgIcon = nullptr;
    HICON m_smallIcon = nullptr;
    HFONT m_font = nullptr;
    HMENU m_popupMenus = nullptr;
    HACCEL m_accelerators = nullptr;
    NOTIFYICONDATAW m_tray{};

    std::unique_ptr<Win32StatusLine> m_statusLine;
    std::unique_ptr<Win32ListBox> m_listBox;
    std::unique_ptr<Win32Timer> m_timer;
    std::unique_ptr<Win32Dialogs> m_dialogs;
};

} // namespace tamberly::win32
