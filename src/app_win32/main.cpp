#include "app_win32/app.h"
#include "platform/windows/app_paths_browser_locator.h"
#include "platform/windows/program_folder.h"
#include "platform/windows/win32_registry.h"
#include "platform/windows/win32_shell.h"
#include "platform/clock_random_source.h"
#include "platform/windows/wininet_transfer_control.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace tamberly;
    // The platform pieces, built here and nowhere else.
    Win32Registry registry;
    Win32Shell shell;
    AppPathsBrowserLocator browserLocator(registry);
    ClockRandomSource random;
    WinInetTransferControl transfer;
    win32::App app(instance, {registry, shell, browserLocator, random, transfer, settingsFilePath(programFolder())});
    // While a transfer waits, the window's keys still work.
    transfer.setPreTranslate([&app](MSG& message) { return app.window().preTranslate(message); });
#ifdef TAMBERLY_END_WHEN_SHOWN
    // The start-up benchmark: the window is shown and painted by now.
    ::ExitProcess(0);
#endif

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (app.window().preTranslate(message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
