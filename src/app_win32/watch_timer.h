#pragma once

#include "platform/watch_timer.h"

#include <windows.h>

namespace tamberly::win32 {

/// The watcher's timer over SetTimer on a message-only window of its own, on the thread that makes it (the window's),
/// and a clock that counts the time asleep too.
class Win32WatchTimer final : public WatchTimer {
public:
    /// Throws std::runtime_error when the system makes no window.
    explicit Win32WatchTimer(HINSTANCE instance);
    ~Win32WatchTimer() override;
    Win32WatchTimer(const Win32WatchTimer&) = delete;
    Win32WatchTimer& operator=(const Win32WatchTimer&) = delete;

    void arm(std::chrono::milliseconds delay, std::function<void()> fire) override;
    void disarm() override;
    std::chrono::milliseconds now() const override;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void fired();

    HWND m_window = nullptr;
    std::function<void()> m_fire;
};

} // namespace tamberly::win32
