// The start-up baseline under Wine: an empty Win32 window, shown and painted, then the process ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const HWND window = ::CreateWindowExW(0, L"STATIC", L"Bare", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
                                          CW_USEDEFAULT, 304, 253, nullptr, nullptr, instance, nullptr);
    ::UpdateWindow(window);
    ::ExitProcess(0);
}
