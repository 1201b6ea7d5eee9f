#include "app_win32/app.h"
#include "app_win32/message_box.h"
#include "core/settings.h"
#include "platform/windows/program_folder.h"

#include <stdexcept>

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // prefs.ini, read once for all of start-up; each command reads it again.
    tamberly::Settings settings(tamberly::settingsFilePath(tamberly::programFolder()));
    try {
        tamberly::win32::App app(instance, settings);
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
    } catch (const std::runtime_error& error) {
        // Without a window there is nothing to run.
        tamberly::win32::showMessage(nullptr, error.what());
        return 1;
    }
}
