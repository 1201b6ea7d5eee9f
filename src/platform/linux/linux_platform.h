#pragma once

#include "platform/clock_random_source.h"
#include "platform/linux/autostart_entry.h"
#include "platform/linux/desktop_system_proxy.h"
#include "platform/linux/process_launcher.h"
#include "platform/platform.h"

#include <memory>

namespace tamberly {

/// The platform on Linux: the desktop's proxy setting with its record beside the settings file, detached process
/// starts, the front end's HTTP client, and a clock-seeded random source. Cheap to build: nothing is read and no
/// bus is reached before the first use.
class LinuxPlatform final : public Platform {
public:
    /// Throws std::invalid_argument when setup names no settings folder or holds no HTTP client.
    explicit LinuxPlatform(PlatformSetup setup);

    SystemProxy& systemProxy() override { return m_systemProxy; }
    Launcher& launcher() override { return m_launcher; }
    HttpTransfer& transfer() override { return *m_transfer; }
    RandomSource& random() override { return m_random; }
    SessionStart& sessionStart() override { return m_sessionStart; }
    std::string cacheFolder() override;

private:
    std::unique_ptr<HttpTransfer> m_transfer;
    ProcessLauncher m_launcher;
    DesktopSystemProxy m_systemProxy;
    ClockRandomSource m_random;
    AutostartEntry m_sessionStart;
};

} // namespace tamberly
