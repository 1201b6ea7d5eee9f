#include "app_win32/watch_timer.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace tamberly::win32 {
namespace {

constexpr const wchar_t* kClass = L"TamberlyWatchTimer";
constexpr UINT_PTR kTimerId = 1;

} // namespace

Win32WatchTimer::Win32WatchTimer(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClass;
    // A second timer in the same process (the window's tests) finds the class made already.
    ::RegisterClassExW(&windowClass);
    // Message-only: never shown, never enumerated, and gets its WM_TIMER all the same.
    m_window = ::CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
    if (!m_window)
        throw std::runtime_error("The watcher's timer could not be made.");
}

Win32WatchTimer::~Win32WatchTimer() {
    if (m_window)
        ::DestroyWindow(m_window);
}

LRESULT CALLBACK Win32WatchTimer::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32WatchTimer*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message == WM_TIMER && wParam == kTimerId) {
        self->fired();
        return 0;
    }
    if (message == WM_NCDESTROY)
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void Win32WatchTimer::fired() {
    // Single-shot; taken out first, since fire may arm the timer again.
    ::KillTimer(m_window, kTimerId);
    const std::function<void()> fire = std::move(m_fire);
    m_fire = nullptr;
    if (fire)
        fire();
}

void Win32WatchTimer::arm(std::chrono::milliseconds delay, std::function<void()> fire) {
    m_fire = std::move(fire);
    const auto ms = std::clamp<long long>(delay.count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    // The same id replaces the timer armed before.
    ::SetTimer(m_window, kTimerId, static_cast<UINT>(ms), nullptr);
}

void Win32WatchTimer::disarm() {
    ::KillTimer(m_window, kTimerId);
    m_fire = nullptr;
}

std::chrono::milliseconds Win32WatchTimer::now() const {
    // The tick count goes on while the computer sleeps, so a timer that fires after a sleep shows as late.
    return std::chrono::milliseconds(::GetTickCount64());
}

} // namespace tamberly::win32
