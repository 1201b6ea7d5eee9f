#pragma once

#include "app_win32/proxy_list_box.h"
#include "commands/command.h"
#include "commands/view.h"
#include "core/settings.h"

#include <functional>
#include <optional>
#include <string>

#include <windows.h>

namespace tamberly::win32 {

/// The main window: the status line, the proxy list, "Use and launch", the menus, Ctrl+Q and the notification-area
/// icon. It is the commands' view, and turns each click and key into a command; hiding, the icon and quitting are its
/// own. It opens at the size settings remember (at least its own), and remembers the size the user gives it.
class MainWindow final : public View {
public:
    /// The window class, by which other programs (the window's tests, a later start) find the window.
    static constexpr const wchar_t* kWindowClass = L"Tamberly";
    /// The client area the window opens with when settings remember none, and its least size, at 96 dpi.
    static constexpr WindowSize kDefaultClientArea{298, 209};

    /// Makes the window and its controls, not shown yet; throws std::runtime_error, saying why, when the system
    /// makes no window. settings holds the window's size; run carries out a command; quit ends the program;
    /// checked tells whether the item of a toggling command ("Start with the session", "Sort by last check", "Keep me
    /// on a working proxy") is checked. None is called before the message loop runs.
    MainWindow(HINSTANCE instance, Settings& settings, std::function<void(Command)> run, std::function<void()> quit,
               std::function<bool(Command)> checked = {});
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND handle() const { return m_window; }
    /// Shows the window with the focus in the list.
    void show();
    /// Offered each message before it is dispatched, by the main loop and by a request that waits: Ctrl+Q, then Tab
    /// and the other dialog keys between the controls and in the program's own settings dialog. True when it
    /// handled the message.
    bool preTranslate(MSG& message);

    /// Runs a task later on the window's thread, from any thread: the commands' way back from the proxy check.
    std::function<void(std::function<void()>)> post();
    /// The proxy list, as it shows the rows and their marks.
    const ProxyListBox& list() const { return *m_list; }

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
    /// A balloon from the notification-area icon, where it is shown.
    void notify(const std::string& text) override;
    /// The icon's tool tip while the proxy is watched (up to 127 characters); the empty text gives it its own.
    void showWatchTip(const std::string& text) override;
    /// The icon's tool tip as it is given to the notification area.
    std::string trayTip() const;
    void tell(const std::string& text, const std::string& title = {}) override;
    Answer ask(const std::string& question, const std::string& title) override;
    std::optional<std::string> askText(const std::string& prompt, const std::string& title) override;
    void editProxySetting(const std::string& server, bool on, const std::vector<std::string>& places,
                          SaveProxySetting save) override;

    /// How long a start hidden with the session waits for the notification area before it shows the window
    /// minimised.
    static constexpr DWORD kTrayWaitMs = 60'000;

    /// "Hide": the icon into the notification area and the window out of sight; minimised where there is none.
    void hideToTray();
    /// A start with --hidden: the icon only, never the window. Where the session has no notification area yet
    /// (Explorer starts later), the window waits for one, up to waitMs, then shows itself minimised.
    void startHidden(DWORD waitMs = kTrayWaitMs);
    /// A mouse message over the icon (WM_LBUTTONDBLCLK, WM_RBUTTONUP, ...): a double click restores the window, a
    /// right button release opens the pop-up.
    void trayActivated(int message);
    /// Shows the window again, in front, also when it was minimised.
    void restore();
    /// Every way out: the icon goes, then the program ends.
    void quit();

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    void command(int id, int notification, HWND control);
    int pixels(int twips) const;
    /// The size of text in the window's font, wrapped between words at width.
    SIZE textSize(const std::wstring& text, int width) const;
    int statusHeight(int width) const;
    /// Widens the window until the status text fits in two lines, as far as the screen allows.
    void widenForStatus();
    void layoutControls();
    /// Writes the client area's size, unless it is the one written last or the window is maximised or minimised.
    void saveSize();
    /// Adds the icon unless it is there; false when the notification area refuses it.
    bool showTrayIcon();
    /// The icon where the notification area takes it, the window minimised once the wait is over; false while the
    /// wait goes on.
    bool trayOrMinimised();

    HINSTANCE m_instance;
    Settings& m_settings;
    std::function<void(Command)> m_run;
    std::function<void()> m_quit;
    std::function<bool(Command)> m_checked;
    int m_dpi = 96;
    HICON m_icon = nullptr;
    HICON m_smallIcon = nullptr;
    HFONT m_font = nullptr;
    HMENU m_trayPopup = nullptr;
    HACCEL m_accelerators = nullptr;

    HWND m_window = nullptr;
    HWND m_useAndLaunch = nullptr;
    HWND m_status = nullptr;
    std::wstring m_statusText;
    /// The icon's tool tip while watching; empty for its own.
    std::wstring m_watchTip;
    std::optional<ProxyListBox> m_list;
    /// The client area as last written (or as it opened), at 96 dpi.
    WindowSize m_savedSize;
    /// A later start's request to come forward.
    UINT m_showRequest = 0;
    /// Explorer's word that the notification area is (again) there.
    UINT m_taskbarCreated = 0;
    bool m_iconShown = false;
    ULONGLONG m_trayWaitEnd = 0;
    /// Between WM_ENTERSIZEMOVE and WM_EXITSIZEMOVE: a drag, written when it ends.
    bool m_sizing = false;
    /// The control that had the focus when the window was last deactivated, to get it back.
    HWND m_focus = nullptr;
};

} // namespace tamberly::win32
