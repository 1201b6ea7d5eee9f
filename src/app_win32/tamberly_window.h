#pragma once

#include "app_win32/win32_controls.h"

#include <memory>
#include <string>

#include <windows.h>

#include <shellapi.h>

namespace tamberly {
class BrowserLaunch;
class BrowserLocator;
class ControlPanelOptions;
class ListDownload;
class ProxySubmission;
class RandomSource;
class Registry;
class SelectionCommands;
class Shell;
class ShellWebBrowser;
class SystemProxy;
class WinInetTransferControl;
class Website;
} // namespace tamberly

namespace tamberly::win32 {

/// What the window is given from outside.
struct TamberlyServices {
    Registry& registry;
    Shell& shell;
    BrowserLocator& browserLocator;
    RandomSource& random;
    /// The settings file, decided before the window exists.
    std::string iniPath;
};

/// The main window `Tamberly` on Win32: the controls and menus of the program's window, its events forwarded to the
/// same handlers as on every platform, and the notification-area icon.
class Tamberly final {
public:
    static constexpr UINT_PTR kTimer1 = 1;

    Tamberly(HINSTANCE instance, TamberlyServices services);
    ~Tamberly();
    Tamberly(const Tamberly&) = delete;
    Tamberly& operator=(const Tamberly&) = delete;

    HWND window() const { return m_window; }
    /// The main loop's filter: the Ctrl+Q accelerator, then Tab between the list and the button.
    bool preTranslate(MSG& message);

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK pichookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    void command(int id);

    void Form_Load();
    void Mnuhide_Click();
    void pichook_MouseDown(int message);
    void RestoreWindow();
    void RemoveTrayIcon();
    [[noreturn]] void endProcess();

    HINSTANCE m_instance;
    TamberlyServices m_services;
    std::string m_IniPath;
    std::string m_proxylist = "Label1";
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
    std::unique_ptr<WinInetTransferControl> m_Inet1;
    std::unique_ptr<ShellWebBrowser> m_webBrowser;
    std::unique_ptr<ControlPanelOptions> m_optionsPanel;
    std::unique_ptr<SystemProxy> m_systemProxy;
    std::unique_ptr<BrowserLaunch> m_browserLaunch;
    std::unique_ptr<SelectionCommands> m_selection;
    std::unique_ptr<ListDownload> m_download;
    std::unique_ptr<ProxySubmission> m_submission;
    std::unique_ptr<Website> m_website;
};

} // namespace tamberly::win32
