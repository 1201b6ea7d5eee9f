#pragma once

#include "platform/clock_random_source.h"
#include "platform/platform.h"
#include "platform/windows/internet_settings.h"
#include "platform/windows/run_key_session_start.h"
#include "platform/windows/win32_registry_key.h"
#include "platform/windows/shell_launcher.h"

#include <memory>

namespace tamberly {

/// Windows' pieces behind the ports: the Internet Settings, the shell's launches, WinINet and the clock's random
/// numbers. The Internet Settings are the record and the only place of the proxy: there is no desktop setting to
/// leave alone and no record file beside the settings.
class WindowsPlatform final : public Platform {
public:
    /// transfer: the window's WinInetTransfer, built with its keys' hook; without one, one with no hook.
    explicit WindowsPlatform(std::unique_ptr<HttpTransfer> transfer = nullptr);
    ~WindowsPlatform() override;

    SystemProxy& systemProxy() override { return m_internetSettings; }
    Launcher& launcher() override { return m_launcher; }
    HttpTransfer& transfer() override { return *m_transfer; }
    RandomSource& random() override { return m_random; }
    SessionStart& sessionStart() override { return m_sessionStart; }
    /// %LOCALAPPDATA%\Tamberly: the machine's own, never carried to another by a roaming profile.
    std::string cacheFolder() override;

private:
    InternetSettings m_internetSettings;
    ShellLauncher m_launcher;
    std::unique_ptr<HttpTransfer> m_transfer;
    ClockRandomSource m_random;
    Win32RegistryKey m_runKey;
    Win32RegistryKey m_startupApproved;
    RunKeySessionStart m_sessionStart;
};

} // namespace tamberly
