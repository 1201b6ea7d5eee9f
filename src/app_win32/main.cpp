#include "app_win32/tamberly_window.h"
#include "platform/windows/app_paths_browser_locator.h"
#include "platform/windows/program_folder.h"
#include "platform/windows/win32_registry.h"
#include "platform/windows/win32_shell.h"
#include "platform/clock_random_source.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace tamberly;
    Win32Registry registry;
    Win32Shell shell;
    AppPathsBrowserLocator browserLocator(registry);
    ClockRandomSource random;
    win32::Tamberly window(instance, {registry, shell, browserLocator, random, settingsFilePath(programFolder())});
#ifdef TAMBERLY_END_WHEN_SHOWN
    // The start-up benchmark: the window is shown and painted by now.
    ::ExitProcess(0);
#endif

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.preTranslate(message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
