#include "app_win32/tamberly_window.h"

#include "app_win32/resource.h"
#include "net/commands.h"

namespace tamberly::win32 {
namespace {

constexpr const wchar_t* kWindowClass = L"Tamberly";
constexpr const wchar_t* kPichookClass = L"TamberlyPichook";

// The window's layout in twips (1/1440 inch), turned into pixels at the screen's own density.
struct TwipsRect {
    int left, top, width, height;
};
constexpr int kClientWidth = 4470;
constexpr int kClientHeight = 3135;
constexpr TwipsRect kPichook{5160, 3600, 855, 555};
constexpr TwipsRect kChoice{1080, 2280, 2175, 375};
constexpr TwipsRect kProxydisplay{240, 480, 3975, 1620};
constexpr TwipsRect kStatus{240, 120, 3975, 255};

// Mouse message numbers of the notification-area icon.
constexpr int kLeftDoubleClick = 0x203;
constexpr int kRightButtonUp = 0x205;

int screenDpi() {
    const HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

int pixels(int twips) {
    return ::MulDiv(twips, screenDpi(), 1440);
}

HWND child(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, const TwipsRect& r, int id,
           HINSTANCE instance) {
    return ::CreateWindowExW(0, className, text, WS_CHILD | style, pixels(r.left), pixels(r.top), pixels(r.width),
                             pixels(r.height), parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                             nullptr);
}

} // namespace

Tamberly::Tamberly(HINSTANCE instance) : m_instance(instance) {
    m_imgIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_TAMBERLY), IMAGE_ICON,
                                                ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
    m_smallIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_TAMBERLY), IMAGE_ICON,
                                                  ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        m_font = ::CreateFontIndirectW(&metrics.lfMessageFont);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = m_imgIcon;
    windowClass.hIconSm = m_smallIcon;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_SCROLLBAR + 1));
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MENU);
    windowClass.lpszClassName = kWindowClass;
    ::RegisterClassExW(&windowClass);
    WNDCLASSEXW pichookClass{};
    pichookClass.cbSize = sizeof pichookClass;
    pichookClass.lpfnWndProc = pichookProc;
    pichookClass.hInstance = instance;
    pichookClass.lpszClassName = kPichookClass;
    ::RegisterClassExW(&pichookClass);

    m_popupMenus = ::LoadMenuW(instance, MAKEINTRESOURCEW(IDR_POPUP));
    m_accelerators = ::LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));

    // A fixed frame around the client area of the design, menu bar included.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, pixels(kClientWidth), pixels(kClientHeight)};
    ::AdjustWindowRectEx(&frame, style, TRUE, 0);
    m_window = ::CreateWindowExW(0, kWindowClass, L"Tamberly", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                 frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this);
    createControls();

    m_statusLine = std::make_unique<Win32StatusLine>(m_status);
    m_listBox = std::make_unique<Win32ListBox>(m_Proxydisplay);
    m_timer = std::make_unique<Win32Timer>(m_window, kTimer1, 250);
    m_dialogs = std::make_unique<Win32Dialogs>(instance, m_window);
}

void Tamberly::forwardTo(Commands& commands) {
    m_commands = &commands;
}

void Tamberly::show() {
    ::ShowWindow(m_window, SW_SHOWNORMAL);
    ::UpdateWindow(m_window);
    ::SetFocus(m_Proxydisplay);
}

Tamberly::~Tamberly() {
    if (m_window)
        ::DestroyWindow(m_window);
    if (m_popupMenus)
        ::DestroyMenu(m_popupMenus);
    if (m_font)
        ::DeleteObject(m_font);
}

void Tamberly::createControls() {
    // In the order the design creates them; the tab order follows it.
    m_pichook = child(m_window, kPichookClass, L"", 0, kPichook, IDC_PICHOOK, m_instance);
    ::SetWindowLongPtrW(m_pichook, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_choice = child(m_window, L"BUTTON", L"Use and launch", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, kChoice,
                     IDC_CHOICE, m_instance);
    m_Proxydisplay =
        child(m_window, L"LISTBOX", L"", WS_VISIBLE | WS_TABSTOP | WS_BORDER | WS_VSCROLL | Win32ListBox::kStyle,
              kProxydisplay, IDC_PROXYDISPLAY, m_instance);
    m_status = child(m_window, L"STATIC", L"", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, kStatus, IDC_STATUS, m_instance);
    for (const HWND control : {m_choice, m_Proxydisplay, m_status})
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
}

bool Tamberly::preTranslate(MSG& message) {
    if (m_accelerators && ::TranslateAcceleratorW(m_window, m_accelerators, &message))
        return true;
    return ::IsDialogMessageW(m_window, &message) != FALSE;
}

LRESULT CALLBACK Tamberly::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Tamberly*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->m_window = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Tamberly*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->handle(message, wParam, lParam) : ::DefWindowProcW(window, message, wParam, lParam);
}

// The icon's callback message is WM_LBUTTONDOWN: it arrives here as a left press whose x coordinate is the number of
// the mouse message that occurred over the icon.
LRESULT CALLBACK Tamberly::pichookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_LBUTTONDOWN) {
        if (auto* self = reinterpret_cast<Tamberly*>(::GetWindowLongPtrW(window, GWLP_USERDATA)))
            self->pichook_MouseDown(LOWORD(lParam));
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Tamberly::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        command(LOWORD(wParam));
        return 0;
    case WM_DRAWITEM:
        if (wParam == IDC_PROXYDISPLAY && m_listBox) {
            m_listBox->draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        break;
    case WM_TIMER:
        if (wParam == kTimer1 && m_commands)
            m_commands->download.Timer1_Timer();
        return 0;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == m_status) {
            ::SetBkColor(reinterpret_cast<HDC>(wParam), ::GetSysColor(COLOR_SCROLLBAR));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_SCROLLBAR));
        }
        break;
    case WM_CLOSE:
        // form_unload: closing always ends the program, never hides it to the notification area.
        RemoveTrayIcon();
        endProcess();
    default:
        break;
    }
    return ::DefWindowProcW(m_window, message, wParam, lParam);
}

void Tamberly::command(int id) {
    if (!m_commands)
        return;
    switch (id) {
    case IDC_CHOICE:
        return m_commands->selection.choice_Click();
    case ID_MNUNOPROXY2:
        return m_commands->selection.Mnunoproxy2_Click();
    case ID_MNUSWITCH:
        return m_commands->selection.MnuSwitch_Click();
    case ID_MNUQUIT2:
    case ID_MNUQUIT:
        RemoveTrayIcon();
        endProcess();
    case ID_MNUVISIT:
        return m_commands->website.Mnuvisit_Click();
    case ID_MNUHIDE:
        return Mnuhide_Click();
    case ID_MNULIST:
        return m_commands->download.Mnulist_Click();
    case ID_MNULAUNCH:
        return m_commands->browserLaunch.Mnulaunch_Click();
    case ID_MNUNOPROXY:
        return m_commands->systemProxy.Mnunoproxy_Click();
    case ID_MNUTHISPROXY:
        return m_commands->selection.Mnuthisproxy_Click();
    case ID_MNUCLOSE:
        return m_commands->website.Mnuclose_Click();
    case ID_CURRPROXY:
        return m_commands->systemProxy.currproxy_Click();
    case ID_MNUDEAD:
        return m_commands->submission.Mnudead_Click();
    case ID_MNUADD:
        return m_commands->submission.Mnuadd_Click();
    default:
        return;
    }
}

void Tamberly::Mnuhide_Click() {
    m_tray.cbSize = NOTIFYICONDATAW_V1_SIZE;
    m_tray.hWnd = m_pichook;
    m_tray.uID = 1;
    m_tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_tray.uCallbackMessage = WM_LBUTTONDOWN;
    m_tray.hIcon = m_smallIcon ? m_smallIcon : m_imgIcon;
    ::lstrcpynW(m_tray.szTip, L":-)", 64);
    // A second "Hide" asks for an icon that exists already: the shell refuses it and the one icon stays.
    ::Shell_NotifyIconW(NIM_ADD, &m_tray);
    ::ShowWindow(m_window, SW_HIDE);
}

void Tamberly::pichook_MouseDown(int message) {
    if (message == kLeftDoubleClick) {
        RestoreWindow();
    } else if (message == kRightButtonUp) {
        POINT at{};
        ::GetCursorPos(&at);
        // The menu closes when the user clicks elsewhere only if the window is in the foreground.
        ::SetForegroundWindow(m_window);
        ::TrackPopupMenu(::GetSubMenu(m_popupMenus, 0), 0, at.x, at.y, 0, m_window, nullptr);
        ::PostMessageW(m_window, WM_NULL, 0, 0);
    }
}

void Tamberly::RestoreWindow() {
    ::ShowWindow(m_window, SW_SHOW);
    ::SetForegroundWindow(m_window);
}

void Tamberly::RemoveTrayIcon() {
    m_tray.cbSize = NOTIFYICONDATAW_V1_SIZE;
    m_tray.hWnd = m_pichook;
    m_tray.uID = 1;
    ::Shell_NotifyIconW(NIM_DELETE, &m_tray);
}

void Tamberly::endProcess() {
    // Nothing is saved on the way out; a download still running is abandoned.
    ::ExitProcess(0);
}

} // namespace tamberly::win32
