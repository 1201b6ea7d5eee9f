#include "app_win32/main_window.h"

#include "app_win32/message_box.h"
#include "app_win32/proxy_settings_dialog.h"
#include "app_win32/resource.h"
#include "platform/windows/wide_text.h"

#include <commctrl.h>
#include <shellapi.h>

#include <stdexcept>
#include <string_view>

namespace tamberly::win32 {
namespace {

// The window's layout in twips (1/1440 inch), turned into pixels at the screen's own density.
struct TwipsRect {
    int left, top, width, height;
};
constexpr int kClientWidth = 4470;
constexpr int kClientHeight = 3135;
constexpr TwipsRect kStatusRect{240, 120, 3975, 255};
constexpr TwipsRect kProxyListRect{240, 480, 3975, 1620};
constexpr TwipsRect kUseAndLaunchRect{1080, 2280, 2175, 375};
// A long status text wraps in its tool tip at this width.
constexpr int kStatusTipWidth = 6000;

// The notification-area icon: its one id, and the message its mouse messages arrive in (lParam is the mouse
// message).
constexpr UINT kTrayIconId = 1;
constexpr UINT kTrayMessage = WM_APP + 1;
constexpr const wchar_t* kTrayTip = L":-)";

// The menu items that are commands; "Hide" and "Quit" are the window's own.
constexpr struct {
    int id;
    Command command;
} kMenuCommands[] = {
    {ID_TURN_PROXY_OFF_AND_LAUNCH, Command::TurnProxyOffAndLaunch},
    {ID_USE_RANDOM_AND_LAUNCH, Command::UseRandomAndLaunch},
    {ID_VISIT_WEBSITE, Command::VisitWebsite},
    {ID_DOWNLOAD_LIST, Command::DownloadList},
    {ID_LAUNCH_BROWSER, Command::LaunchBrowser},
    {ID_TURN_PROXY_OFF, Command::TurnProxyOff},
    {ID_USE_SELECTED, Command::UseSelected},
    {ID_SHOW_PROXY_SETTINGS, Command::ShowProxySettings},
    {ID_SHOW_CURRENT_PROXY, Command::ShowCurrentProxy},
    {ID_REPORT_DEAD_PROXY, Command::ReportDeadProxy},
    {ID_SUBMIT_PROXY, Command::SubmitProxy},
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
    // The first version's size: every shell takes it, and its mouse messages come whole in lParam.
    icon.cbSize = NOTIFYICONDATAW_V1_SIZE;
    icon.hWnd = window;
    icon.uID = kTrayIconId;
    return icon;
}

bool isDialog(HWND window) {
    wchar_t name[8] = {};
    return ::GetClassNameW(window, name, 8) > 0 && std::wstring_view(name) == L"#32770";
}

} // namespace

MainWindow::MainWindow(HINSTANCE instance, std::function<void(Command)> run, std::function<void()> quit)
    : m_instance(instance), m_run(std::move(run)), m_quit(std::move(quit)), m_dpi(screenDpi()) {
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

    // A fixed frame around the client area of the design, menu bar included.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, pixels(kClientWidth), pixels(kClientHeight)};
    ::AdjustWindowRectEx(&frame, style, TRUE, 0);
    if (!::CreateWindowExW(0, kWindowClass, kApplicationTitle, style, CW_USEDEFAULT, CW_USEDEFAULT,
                           frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this)) {
        const std::string why = systemErrorText(::GetLastError());
        if (m_trayPopup)
            ::DestroyMenu(m_trayPopup);
        if (m_font)
            ::DeleteObject(m_font);
        throw std::runtime_error("The window could not be made: " + why);
    }
    createControls();
}

MainWindow::~MainWindow() {
    if (m_window) {
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
        child(L"BUTTON", L"Use and launch", WS_TABSTOP | BS_PUSHBUTTON, kUseAndLaunchRect, IDC_USE_AND_LAUNCH);
    m_list.emplace(child(L"LISTBOX", L"", WS_TABSTOP | WS_BORDER | WS_VSCROLL | ProxyListBox::kStyle, kProxyListRect,
                         IDC_PROXY_LIST));
    // One line: an "&" shows as itself, and a text too long for it ends in an ellipsis, whole in the tool tip.
    // SS_NOTIFY lets the tool tip see the mouse over the line.
    m_status = child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS | SS_NOTIFY, kStatusRect, IDC_STATUS);

    m_statusTip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr,
                                    m_instance, nullptr);
    TOOLINFOW tool{};
    // The size every version of the common controls takes.
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = m_window;
    tool.uId = reinterpret_cast<UINT_PTR>(m_status);
    tool.lpszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(m_statusTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    ::SendMessageW(m_statusTip, TTM_SETMAXTIPWIDTH, 0, pixels(kStatusTipWidth));
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
    switch (message) {
    case WM_COMMAND:
        command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case kTrayMessage:
        if (wParam == kTrayIconId)
            trayActivated(static_cast<int>(lParam));
        return 0;
    case WM_DRAWITEM:
        if (wParam == IDC_PROXY_LIST && m_list) {
            m_list->draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        break;
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
    if (control) {
        // Of the controls only the button is a command; the list's and the status line's notices are not.
        if (control == m_useAndLaunch && notification == BN_CLICKED)
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

void MainWindow::setStatus(const std::string& text) {
    const std::wstring full = widen(text);
    ::SetWindowTextW(m_status, full.c_str());
    // The tool tip holds the whole text when the line shows only its start.
    RECT line{};
    ::GetClientRect(m_status, &line);
    const HDC dc = ::GetDC(m_status);
    const HGDIOBJ old = m_font ? ::SelectObject(dc, m_font) : nullptr;
    SIZE size{};
    ::GetTextExtentPoint32W(dc, full.c_str(), static_cast<int>(full.size()), &size);
    if (old)
        ::SelectObject(dc, old);
    ::ReleaseDC(m_status, dc);
    const bool fits = size.cx <= line.right - line.left && full.find(L'\n') == std::wstring::npos;
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = m_window;
    tool.uId = reinterpret_cast<UINT_PTR>(m_status);
    tool.lpszText = const_cast<wchar_t*>(fits ? L"" : full.c_str());
    ::SendMessageW(m_statusTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
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

void MainWindow::hideToTray() {
    NOTIFYICONDATAW icon = trayIcon(m_window);
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = kTrayMessage;
    icon.hIcon = m_smallIcon ? m_smallIcon : m_icon;
    ::lstrcpynW(icon.szTip, kTrayTip, 64);
    // The icon stays once shown: a second "Hide" asks for one that exists already, the shell refuses it and the one
    // icon stays.
    ::Shell_NotifyIconW(NIM_ADD, &icon);
    ::ShowWindow(m_window, SW_HIDE);
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
    ::ShowWindow(m_window, SW_SHOW);
    ::SetForegroundWindow(m_window);
}

void MainWindow::quit() {
    // Nothing is saved on the way out.
    NOTIFYICONDATAW icon = trayIcon(m_window);
    ::Shell_NotifyIconW(NIM_DELETE, &icon);
    // Out of sight at once, while a command that waits for a request gives up on it.
    ::ShowWindow(m_window, SW_HIDE);
    m_quit();
}

} // namespace tamberly::win32
