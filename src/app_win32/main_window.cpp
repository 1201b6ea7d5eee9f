#include "app_win32/main_window.h"

#include "app_win32/message_box.h"
#include "app_win32/proxy_settings_dialog.h"
#include "app_win32/resource.h"
#include "core/settings.h"
#include "platform/windows/instance_lock.h"
#include "platform/windows/wide_text.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace tamberly::win32 {
namespace {

// The window's layout at the default client area in twips (1/1440 inch), turned into pixels at the screen's own
// density. A larger window gives its room to the list: the line and the list widen, the list grows taller, and the
// button stays below the list, where it is from the centre at the default size.
struct TwipsRect {
    int left, top, width, height;
};
constexpr int kClientWidth = 4470;
constexpr int kClientHeight = 3135;
constexpr TwipsRect kStatusRect{240, 120, 3975, 255};
constexpr TwipsRect kProxyListRect{240, 480, 3975, 1620};
constexpr TwipsRect kUseAndLaunchRect{1080, 2280, 2175, 375};
constexpr int kRightMargin = kClientWidth - kStatusRect.left - kStatusRect.width;
constexpr int kListBelowStatus = kProxyListRect.top - kStatusRect.top - kStatusRect.height;
constexpr int kButtonBelowList = kUseAndLaunchRect.top - kProxyListRect.top - kProxyListRect.height;
constexpr int kButtonFromBottom = kClientHeight - kUseAndLaunchRect.top;
// The frame a user can resize and maximise.
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW;
// A size is written once no resize has come for this long, unless a drag's end says so first.
constexpr UINT_PTR kSizeSettledTimer = 1;
constexpr UINT kSizeSettledMs = 500;
// A hidden start's wait for the notification area: asked again at each tick until the deadline.
constexpr UINT_PTR kTrayWaitTimer = 2;
constexpr UINT kTrayWaitTickMs = 500;
// The status line's text wraps between words, as the control draws it.
constexpr UINT kStatusFormat = DT_LEFT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS;

// The notification-area icon: its one id, and the message its mouse messages arrive in (lParam is the mouse
// message).
constexpr UINT kTrayIconId = 1;
constexpr UINT kTrayMessage = WM_APP + 1;
// A task posted from another thread (the proxy check's results): lParam owns a std::function<void()>.
constexpr UINT kPostedTask = WM_APP + 2;
constexpr const wchar_t* kTrayTip = L":-)";

// The menu items that are commands; "Hide" and "Quit" are the window's own.
constexpr struct {
    int id;
    Command command;
} kMenuCommands[] = {
    {ID_TURN_PROXY_OFF_AND_LAUNCH, Command::TurnProxyOffAndLaunch},
    {ID_USE_RANDOM_AND_LAUNCH, Command::UseRandomAndLaunch},
    {ID_VISIT_WEBSITE, Command::VisitWebsite},
    {ID_START_WITH_SESSION, Command::ToggleStartWithSession},
    {ID_DOWNLOAD_LIST, Command::DownloadList},
    {ID_LAUNCH_BROWSER, Command::LaunchBrowser},
    {ID_TURN_PROXY_OFF, Command::TurnProxyOff},
    {ID_USE_SELECTED, Command::UseSelected},
    {ID_SHOW_PROXY_SETTINGS, Command::ShowProxySettings},
    {ID_SHOW_CURRENT_PROXY, Command::ShowCurrentProxy},
    {ID_REPORT_DEAD_PROXY, Command::ReportDeadProxy},
    {ID_SUBMIT_PROXY, Command::SubmitProxy},
    {ID_CHECK_PROXIES, Command::CheckProxies},
    {ID_STOP_CHECK, Command::StopCheck},
    {ID_USE_FASTEST, Command::UseFastest},
    {ID_SORT_BY_CHECK, Command::ToggleSortByCheck},
    {ID_WATCH, Command::ToggleWatch},
};

// The items that are checked while their setting is on, and the menu of the bar each is in.
constexpr struct {
    int menu;
    int id;
    Command command;
} kToggles[] = {
    {0, ID_START_WITH_SESSION, Command::ToggleStartWithSession},
    {1, ID_SORT_BY_CHECK, Command::ToggleSortByCheck},
    {1, ID_WATCH, Command::ToggleWatch},
};

int screenDpi() {
    const HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

HICON loadIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
    // Shared: the system keeps it for as long as the program runs.
    return static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_TAMBERLY), IMAGE_ICON,
                                           ::GetSystemMetrics(widthMetric), ::GetSystemMetrics(heightMetric),
                                           LR_SHARED));
}

NOTIFYICONDATAW trayIcon(HWND window) {
    NOTIFYICONDATAW icon{};
    // The second version's size: a 128-character tip and balloons; without NIM_SETVERSION its mouse messages still
    // come whole in lParam.
    icon.cbSize = NOTIFYICONDATAW_V2_SIZE;
    icon.hWnd = window;
    icon.uID = kTrayIconId;
    return icon;
}

RECT workArea(HWND window) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    const HMONITOR shown = ::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY);
    if (shown && ::GetMonitorInfoW(shown, &monitor))
        return monitor.rcWork;
    RECT area{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

bool isDialog(HWND window) {
    wchar_t name[8] = {};
    return ::GetClassNameW(window, name, 8) > 0 && std::wstring_view(name) == L"#32770";
}

} // namespace

MainWindow::MainWindow(HINSTANCE instance, Settings& settings, std::function<void(Command)> run,
                       std::function<void()> quit, std::function<bool(Command)> checked)
    : m_instance(instance), m_settings(settings), m_run(std::move(run)), m_quit(std::move(quit)),
      m_checked(std::move(checked)), m_dpi(screenDpi()), m_showRequest(InstanceLock::showRequestMessage()),
      m_taskbarCreated(::RegisterWindowMessageW(L"TaskbarCreated")) {
    m_icon = loadIcon(instance, SM_CXICON, SM_CYICON);
    m_smallIcon = loadIcon(instance, SM_CXSMICON, SM_CYSMICON);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        m_font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = m_icon;
    windowClass.hIconSm = m_smallIcon;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    // The classic program's window is the colour of the scroll bars.
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_SCROLLBAR + 1));
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MENU);
    windowClass.lpszClassName = kWindowClass;
    // A second window in the same process (the window's tests) finds the class made already.
    ::RegisterClassExW(&windowClass);

    m_trayPopup = ::LoadMenuW(instance, MAKEINTRESOURCEW(IDR_TRAY_POPUP));
    m_accelerators = ::LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));

    // The size remembered, never less than the default nor more than the screen holds; the menu bar comes on top.
    const int defaultWidth = pixels(kClientWidth), defaultHeight = pixels(kClientHeight);
    int width = defaultWidth, height = defaultHeight;
    m_savedSize = kDefaultClientArea;
    if (const auto stored = m_settings.windowSize()) {
        RECT frame{0, 0, 0, 0};
        ::AdjustWindowRectEx(&frame, kWindowStyle, TRUE, 0);
        const RECT area = workArea(nullptr);
        const int roomWidth = (area.right - area.left) - (frame.right - frame.left);
        const int roomHeight = (area.bottom - area.top) - (frame.bottom - frame.top);
        width = std::max(defaultWidth, std::min(::MulDiv(stored->width, m_dpi, 96), roomWidth));
        height = std::max(defaultHeight, std::min(::MulDiv(stored->height, m_dpi, 96), roomHeight));
        // The size it opens at is written only once the user changes it.
        m_savedSize = {::MulDiv(width, 96, m_dpi), ::MulDiv(height, 96, m_dpi)};
    }
    RECT frame{0, 0, width, height};
    ::AdjustWindowRectEx(&frame, kWindowStyle, TRUE, 0);
    if (!::CreateWindowExW(0, kWindowClass, kApplicationTitle, kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                           frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this)) {
        const std::string why = systemErrorText(::GetLastError());
        if (m_trayPopup)
            ::DestroyMenu(m_trayPopup);
        if (m_font)
            ::DeleteObject(m_font);
        throw std::runtime_error("The window could not be made: " + why);
    }
    createControls();
    layoutControls();
}

MainWindow::~MainWindow() {
    if (m_window) {
        // Tasks posted and never run are freed, not run: what they report to may be gone.
        MSG message;
        while (::PeekMessageW(&message, m_window, kPostedTask, kPostedTask, PM_REMOVE))
            delete reinterpret_cast<std::function<void()>*>(message.lParam);
        NOTIFYICONDATAW icon = trayIcon(m_window);
        ::Shell_NotifyIconW(NIM_DELETE, &icon);
        ::DestroyWindow(m_window);
    }
    if (m_trayPopup)
        ::DestroyMenu(m_trayPopup);
    if (m_font)
        ::DeleteObject(m_font);
}

int MainWindow::pixels(int twips) const {
    return ::MulDiv(twips, m_dpi, 1440);
}

void MainWindow::createControls() {
    const auto child = [this](const wchar_t* className, const wchar_t* text, DWORD style, const TwipsRect& r, int id) {
        const HWND control = ::CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, pixels(r.left),
                                               pixels(r.top), pixels(r.width), pixels(r.height), m_window,
                                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), m_instance, nullptr);
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
        return control;
    };
    // In the order of the classic program's window; the tab order follows it.
    m_useAndLaunch =
        child(L"BUTTON", L"&Use and launch", WS_TABSTOP | BS_PUSHBUTTON, kUseAndLaunchRect, IDC_USE_AND_LAUNCH);
    // The list tells the window of its keys (WM_VKEYTOITEM): Delete offers to report the row.
    m_list.emplace(child(L"LISTBOX", L"",
                         WS_TABSTOP | WS_BORDER | WS_VSCROLL | LBS_WANTKEYBOARDINPUT | ProxyListBox::kStyle,
                         kProxyListRect, IDC_PROXY_LIST));
    // An "&" shows as itself; a long text wraps between words and shows whole, the line growing by the lines it
    // takes.
    m_status = child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kStatusRect, IDC_STATUS);
}

SIZE MainWindow::textSize(const std::wstring& text, int width) const {
    const HDC dc = ::GetDC(m_window);
    const HGDIOBJ old = m_font ? ::SelectObject(dc, m_font) : nullptr;
    RECT needed{0, 0, width, 0};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed, kStatusFormat | DT_CALCRECT);
    if (old)
        ::SelectObject(dc, old);
    ::ReleaseDC(m_window, dc);
    return {needed.right - needed.left, needed.bottom - needed.top};
}

int MainWindow::statusHeight(int width) const {
    const int line = pixels(kStatusRect.height);
    if (m_statusText.empty())
        return line;
    // The one-line height of the default layout has room below a line; more lines keep that room.
    const int lineHeight = textSize(L"X", width).cy;
    return std::max<int>(line, textSize(m_statusText, width).cy + line - lineHeight);
}

void MainWindow::widenForStatus() {
    if (m_statusText.empty() || ::IsZoomed(m_window) || ::IsIconic(m_window))
        return;
    const int lineHeight = textSize(L"X", 1 << 20).cy;
    const auto fits = [&](int width) {
        const SIZE needed = textSize(m_statusText, width);
        return needed.cx <= width && needed.cy <= 2 * lineHeight;
    };
    RECT client{}, frame{};
    ::GetClientRect(m_window, &client);
    ::GetWindowRect(m_window, &frame);
    const int margins = pixels(kStatusRect.left) + pixels(kRightMargin);
    const int width = client.right - margins;
    if (fits(width))
        return;
    // The widest line the screen allows: the window's frame and the margins stay around it.
    const RECT area = workArea(m_window);
    const int frameWidth = (frame.right - frame.left) - client.right;
    const int widest = (area.right - area.left) - frameWidth - margins;
    if (widest <= width)
        return;
    // The narrowest width at which the text fits; where none does, the widest, and the line takes more lines.
    int low = width, high = widest;
    if (fits(widest)) {
        while (high - low > 1) {
            const int middle = low + (high - low) / 2;
            (fits(middle) ? high : low) = middle;
        }
    }
    const int newWidth = (frame.right - frame.left) + high - width;
    // The window stays on the screen: where it would reach past the right edge, it moves left.
    const int left = std::max(area.left, std::min(frame.left, area.right - newWidth));
    ::SetWindowPos(m_window, nullptr, left, frame.top, newWidth, frame.bottom - frame.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::layoutControls() {
    RECT client{};
    ::GetClientRect(m_window, &client);
    if (!m_list || client.right <= 0 || client.bottom <= 0)
        return;
    const int left = pixels(kStatusRect.left);
    const int width = std::max<int>(0, client.right - left - pixels(kRightMargin));
    const int status = statusHeight(width);
    const int statusTop = pixels(kStatusRect.top);
    const int listTop = statusTop + status + pixels(kListBelowStatus);
    const int buttonTop = client.bottom - pixels(kButtonFromBottom);
    ::MoveWindow(m_status, left, statusTop, width, status, TRUE);
    ::MoveWindow(m_list->handle(), left, listTop, width, std::max(0, buttonTop - pixels(kButtonBelowList) - listTop),
                 TRUE);
    ::MoveWindow(m_useAndLaunch, pixels(kUseAndLaunchRect.left) + (client.right - pixels(kClientWidth)) / 2, buttonTop,
                 pixels(kUseAndLaunchRect.width), pixels(kUseAndLaunchRect.height), TRUE);
    // The controls do not repaint what they left or what a new width wraps anew: the window and all of them do.
    ::RedrawWindow(m_window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void MainWindow::saveSize() {
    ::KillTimer(m_window, kSizeSettledTimer);
    // A maximised or minimised window has no size of the user's own: the last one stays.
    if (::IsZoomed(m_window) || ::IsIconic(m_window))
        return;
    RECT client{};
    ::GetClientRect(m_window, &client);
    const WindowSize area{::MulDiv(client.right, 96, m_dpi), ::MulDiv(client.bottom, 96, m_dpi)};
    if (area == m_savedSize || area.width <= 0 || area.height <= 0)
        return;
    // A size that cannot be written costs nothing but the size: the window opens at its default next time.
    if (m_settings.setWindowSize(area).empty())
        m_savedSize = area;
}

void MainWindow::show() {
    ::ShowWindow(m_window, SW_SHOWNORMAL);
    ::UpdateWindow(m_window);
    ::SetFocus(m_list->handle());
}

bool MainWindow::preTranslate(MSG& message) {
    if (m_accelerators && ::TranslateAcceleratorW(m_window, m_accelerators, &message))
        return true;
    // The program's own settings dialogs are not modal: their keys come through here too.
    const HWND root = message.hwnd ? ::GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    // Esc stops a check from anywhere in the window, with the menu closed; in a dialog it is the dialog's.
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE && root == m_window) {
        m_run(Command::StopCheck);
        return true;
    }
    if (root && root != m_window && ::GetWindow(root, GW_OWNER) == m_window && isDialog(root))
        return ::IsDialogMessageW(root, &message) != FALSE;
    return ::IsDialogMessageW(m_window, &message) != FALSE;
}

LRESULT CALLBACK MainWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->m_window = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->handle(message, wParam, lParam) : ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == m_taskbarCreated && m_taskbarCreated) {
        // Explorer started (again): an icon it held is gone, and a hidden start that waits for it can stop waiting.
        m_iconShown = false;
        if (!::IsWindowVisible(m_window))
            trayOrMinimised();
        return 0;
    }
    if (message == m_showRequest && m_showRequest) {
        // A later start for the same settings folder: this window comes forward instead.
        restore();
        return InstanceLock::kShown;
    }
    switch (message) {
    case WM_COMMAND:
        command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case kTrayMessage:
        if (wParam == kTrayIconId)
            trayActivated(static_cast<int>(lParam));
        return 0;
    case kPostedTask: {
        const std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lParam));
        (*task)();
        return 0;
    }
    case WM_DRAWITEM:
        if (wParam == IDC_PROXY_LIST && m_list) {
            m_list->draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        break;
    case WM_VKEYTOITEM:
        // Delete on the list offers to report the row, as the menu's "Report dead proxy" does.
        if (reinterpret_cast<HWND>(lParam) == m_list->handle() && LOWORD(wParam) == VK_DELETE &&
            ::GetKeyState(VK_SHIFT) >= 0 && ::GetKeyState(VK_CONTROL) >= 0 && ::GetKeyState(VK_MENU) >= 0) {
            m_run(Command::ReportDeadProxy);
            return -2;
        }
        return -1;
    case WM_GETMINMAXINFO: {
        // The written size is the least one.
        RECT frame{0, 0, pixels(kClientWidth), pixels(kClientHeight)};
        ::AdjustWindowRectEx(&frame, kWindowStyle, TRUE, 0);
        auto& limits = *reinterpret_cast<MINMAXINFO*>(lParam);
        limits.ptMinTrackSize = {frame.right - frame.left, frame.bottom - frame.top};
        return 0;
    }
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) {
            layoutControls();
            // A drag is written when it ends; any other change (maximise and back, the status line's widening) once
            // it has settled.
            if (!m_sizing && ::IsWindowVisible(m_window))
                ::SetTimer(m_window, kSizeSettledTimer, kSizeSettledMs, nullptr);
        }
        break;
    case WM_ENTERSIZEMOVE:
        m_sizing = true;
        break;
    case WM_EXITSIZEMOVE:
        m_sizing = false;
        saveSize();
        break;
    case WM_TIMER:
        if (wParam == kSizeSettledTimer) {
            saveSize();
            return 0;
        }
        if (wParam == kTrayWaitTimer) {
            trayOrMinimised();
            return 0;
        }
        break;
    case WM_INITMENUPOPUP: {
        // A toggle's state may change outside the program (Task Manager, the installer, prefs.ini by hand): it is
        // read at each opening of its menu.
        const auto menu = reinterpret_cast<HMENU>(wParam);
        for (const auto& toggle : kToggles) {
            if (menu == ::GetSubMenu(::GetMenu(m_window), toggle.menu))
                ::CheckMenuItem(menu, static_cast<UINT>(toggle.id),
                                MF_BYCOMMAND | (m_checked && m_checked(toggle.command) ? MF_CHECKED : MF_UNCHECKED));
        }
        break;
    }
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == m_status) {
            ::SetBkColor(reinterpret_cast<HDC>(wParam), ::GetSysColor(COLOR_SCROLLBAR));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_SCROLLBAR));
        }
        break;
    case WM_ACTIVATE:
        // As a dialog does: the focus goes back to the control that had it, after a message box for one.
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focus = ::GetFocus();
            if (focus && ::IsChild(m_window, focus))
                m_focus = focus;
        } else if (m_focus && ::IsWindowVisible(m_window)) {
            ::SetFocus(m_focus);
            return 0;
        }
        break;
    case WM_CLOSE:
        // Closing always ends the program, never hides it to the notification area.
        quit();
        return 0;
    case WM_NCDESTROY:
        ::SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        m_window = nullptr;
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(m_window, message, wParam, lParam);
}

void MainWindow::command(int id, int notification, HWND control) {
    if (id == IDOK && !control) {
        // Enter, which the dialog keys turn into IDOK: on the list it does what the button does.
        const HWND focus = ::GetFocus();
        if (focus == m_list->handle() || focus == m_useAndLaunch)
            m_run(Command::UseSelectedAndLaunch);
        return;
    }
    if (control) {
        // The button, and a double click on a row, are "Use and launch"; the other notices are no commands.
        if (control == m_useAndLaunch && notification == BN_CLICKED)
            m_run(Command::UseSelectedAndLaunch);
        else if (control == m_list->handle() && notification == LBN_DBLCLK && m_list->rowAtCursor())
            m_run(Command::UseSelectedAndLaunch);
        return;
    }
    if (id == ID_HIDE)
        return hideToTray();
    if (id == ID_QUIT)
        return quit();
    for (const auto& item : kMenuCommands) {
        if (item.id == id)
            return m_run(item.command);
    }
}

std::function<void(std::function<void()>)> MainWindow::post() {
    const HWND window = m_window;
    return [window](std::function<void()> task) {
        auto owned = std::make_unique<std::function<void()>>(std::move(task));
        // The message owns the task once it is posted; a window that is gone takes none.
        if (::PostMessageW(window, kPostedTask, 0, reinterpret_cast<LPARAM>(owned.get())))
            owned.release();
    };
}

void MainWindow::showEntries(const std::vector<std::string_view>& rows) {
    m_list->show(rows);
}

int MainWindow::entryCount() const {
    return m_list->count();
}

std::string MainWindow::entry(int row) const {
    return std::string(m_list->row(row));
}

std::optional<int> MainWindow::selectedRow() const {
    return m_list->selected();
}

void MainWindow::showMarks(std::vector<RowMark> marks) {
    m_list->showMarks(std::move(marks));
}

void MainWindow::clearMarks() {
    m_list->clearMarks();
}

void MainWindow::showOrder(std::vector<int> order) {
    m_list->showOrder(std::move(order));
}

std::string MainWindow::statusText() const {
    return narrow(m_statusText);
}

void MainWindow::setStatus(const std::string& text) {
    m_statusText = widen(text);
    ::SetWindowTextW(m_status, m_statusText.c_str());
    widenForStatus();
    layoutControls();
}

void MainWindow::tell(const std::string& text, const std::string& title) {
    showMessage(m_window, text, title);
}

View::Answer MainWindow::ask(const std::string& question, const std::string& title) {
    return askQuestion(m_window, question, title);
}

std::optional<std::string> MainWindow::askText(const std::string& prompt, const std::string& title) {
    return askForText(m_instance, m_window, prompt, title);
}

void MainWindow::editProxySetting(const std::string& server, bool on, const std::vector<std::string>& places,
                                  SaveProxySetting save) {
    // Reached only where the system's own panel did not open.
    if (!openProxySettingsDialog(m_instance, m_window, server, on, places, std::move(save)))
        showMessage(m_window, "The proxy settings could not be opened.");
}

bool MainWindow::showTrayIcon() {
    // The icon stays once shown: a second "Hide" does not ask for another.
    if (m_iconShown)
        return true;
    NOTIFYICONDATAW icon = trayIcon(m_window);
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = kTrayMessage;
    icon.hIcon = m_smallIcon ? m_smallIcon : m_icon;
    ::lstrcpynW(icon.szTip, m_watchTip.empty() ? kTrayTip : m_watchTip.c_str(), ARRAYSIZE(icon.szTip));
    m_iconShown = ::Shell_NotifyIconW(NIM_ADD, &icon) != FALSE;
    return m_iconShown;
}

void MainWindow::notify(const std::string& text) {
    // A balloon needs the icon: with the window in sight, the status line says as much.
    if (!m_iconShown)
        return;
    NOTIFYICONDATAW icon = trayIcon(m_window);
    icon.uFlags = NIF_INFO;
    icon.dwInfoFlags = NIIF_INFO;
    ::lstrcpynW(icon.szInfoTitle, kApplicationTitle, ARRAYSIZE(icon.szInfoTitle));
    ::lstrcpynW(icon.szInfo, widen(text).c_str(), ARRAYSIZE(icon.szInfo));
    ::Shell_NotifyIconW(NIM_MODIFY, &icon);
}

void MainWindow::showWatchTip(const std::string& text) {
    m_watchTip = widen(text);
    if (!m_iconShown)
        return; // the icon takes it when it is added
    NOTIFYICONDATAW icon = trayIcon(m_window);
    icon.uFlags = NIF_TIP;
    ::lstrcpynW(icon.szTip, m_watchTip.empty() ? kTrayTip : m_watchTip.c_str(), ARRAYSIZE(icon.szTip));
    ::Shell_NotifyIconW(NIM_MODIFY, &icon);
}

std::string MainWindow::trayTip() const {
    return narrow(m_watchTip.empty() ? std::wstring(kTrayTip) : m_watchTip.substr(0, 127));
}

void MainWindow::hideToTray() {
    // Without a notification area a hidden window could never be brought back.
    if (!showTrayIcon()) {
        ::ShowWindow(m_window, SW_MINIMIZE);
        return;
    }
    ::ShowWindow(m_window, SW_HIDE);
}

void MainWindow::startHidden(DWORD waitMs) {
    m_trayWaitEnd = ::GetTickCount64() + waitMs;
    if (!trayOrMinimised())
        ::SetTimer(m_window, kTrayWaitTimer, kTrayWaitTickMs, nullptr);
}

bool MainWindow::trayOrMinimised() {
    if (showTrayIcon()) {
        ::KillTimer(m_window, kTrayWaitTimer);
        return true;
    }
    if (::GetTickCount64() < m_trayWaitEnd)
        return false;
    // The program never quits for want of a notification area: the window is the way back.
    ::KillTimer(m_window, kTrayWaitTimer);
    ::ShowWindow(m_window, SW_SHOWMINNOACTIVE);
    return true;
}

void MainWindow::trayActivated(int message) {
    if (message == WM_LBUTTONDBLCLK) {
        restore();
    } else if (message == WM_RBUTTONUP) {
        POINT at{};
        ::GetCursorPos(&at);
        // The pop-up closes when the user clicks elsewhere only if the window is in the foreground.
        ::SetForegroundWindow(m_window);
        ::TrackPopupMenu(::GetSubMenu(m_trayPopup, 0), 0, at.x, at.y, 0, m_window, nullptr);
        ::PostMessageW(m_window, WM_NULL, 0, 0);
    }
}

void MainWindow::restore() {
    ::KillTimer(m_window, kTrayWaitTimer);
    ::ShowWindow(m_window, ::IsIconic(m_window) ? SW_RESTORE : SW_SHOW);
    ::SetForegroundWindow(m_window);
}

void MainWindow::quit() {
    // Only the size is saved on the way out.
    saveSize();
    NOTIFYICONDATAW icon = trayIcon(m_window);
    ::Shell_NotifyIconW(NIM_DELETE, &icon);
    // Out of sight at once, while a command that waits for a request gives up on it.
    ::ShowWindow(m_window, SW_HIDE);
    m_quit();
}

} // namespace tamberly::win32
