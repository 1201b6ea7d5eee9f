#include "platform/windows/windows_platform.h"

#include "platform/windows/program_folder.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/wininet_transfer.h"

#include <utility>
#include <vector>

#include <windows.h>

namespace tamberly {

WindowsPlatform::WindowsPlatform(std::unique_ptr<HttpTransfer> transfer)
    : m_transfer(transfer ? std::move(transfer) : std::make_unique<WinInetTransfer>()),
      m_runKey(RegistryRoot::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
      m_startupApproved(RegistryRoot::CurrentUser,
                        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run"),
      m_sessionStart(m_runKey, m_startupApproved, programPath()) {}

WindowsPlatform::~WindowsPlatform() = default;

std::string WindowsPlatform::cacheFolder() {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", buffer.data(), static_cast<DWORD>(buffer.size()));
    // Without one, beside the program: a portable copy keeps its files there anyway.
    if (length == 0 || length >= buffer.size())
        return programFolder();
    return narrow(std::wstring(buffer.data(), length)) + "\\Tamberly";
}

std::unique_ptr<Platform> createPlatform(PlatformSetup setup) {
    // settingsFolder and leaveDesktopAlone have nothing to decide here: see WindowsPlatform.
    return std::make_unique<WindowsPlatform>(std::move(setup.transfer));
}

} // namespace tamberly
