#include "platform/windows/control_panel_options.h"

#include <windows.h>

namespace tamberly {

void ControlPanelOptions::open() {
    // Not waited for; a panel that does not start shows nothing, as the command has always done.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"control.exe inetcpl.cpl,,4";
    if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &process)) {
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
}

} // namespace tamberly
