#include "app_win32/app.h"
#include "app_win32/message_box.h"
#include "core/settings.h"
#include "platform/windows/instance_lock.h"
#include "platform/windows/program_folder.h"

#include <stdexcept>
#include <string_view>

#include <windows.h>

#include <shellapi.h>

namespace {

// --hidden anywhere on the command line: a start with the session, into the notification area.
bool startsHidden() {
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    bool hidden = false;
    for (int i = 1; arguments && i < count; ++i)
        hidden = hidden || std::wstring_view(arguments[i]) == L"--hidden";
    ::LocalFree(arguments);
    return hidden;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const std::string settingsPath = tamberly::settingsFilePath(tamberly::programFolder());
    // One program per settings folder: a later start brings the running one's window forward and ends.
    tamberly::InstanceLock lock(folderOf(settingsPath));
    const bool hidden = startsHidden();
    if (lock.role() == tamberly::InstanceLock::Role::Second) {
        // A session start finds the program running already: it stays as it is.
        if (hidden)
            return 0;
        if (lock.askFirstToShow())
            return 0;
        // Otherwise the first ended meanwhile, and this one runs in its place.
        if (lock.role() == tamberly::InstanceLock::Role::Second) {
            tamberly::win32::showMessage(nullptr, "Tamberly is already running for " + folderOf(settingsPath) +
                                                      ", but " + lock.why() + ".");
            return 1;
        }
    }

    // prefs.ini, read once for all of start-up; each command reads it again.
    tamberly::Settings settings(settingsPath);
    try {
        tamberly::win32::App app(instance, settings, hidden);
        lock.markWindow(app.window().handle());
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
        lock.unmarkWindow();
        return static_cast<int>(message.wParam);
    } catch (const std::runtime_error& error) {
        // Without a window there is nothing to run.
        tamberly::win32::showMessage(nullptr, error.what());
        return 1;
    }
}
