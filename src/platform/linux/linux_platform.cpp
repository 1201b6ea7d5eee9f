#include "platform/linux/linux_platform.h"

#include "platform/http_transfer.h"
#include "platform/linux/user_paths.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace tamberly {
namespace {

std::string recordPath(const std::string& settingsFolder) {
    if (settingsFolder.empty())
        throw std::invalid_argument("createPlatform: PlatformSetup::settingsFolder is empty");
    return settingsFolder + "/registry.reg";
}

std::unique_ptr<HttpTransfer> required(std::unique_ptr<HttpTransfer> transfer) {
    // Linux has no HTTP client of its own here: the front end must hand in the one that runs in its event loop.
    if (!transfer)
        throw std::invalid_argument("createPlatform: PlatformSetup::transfer is empty; on Linux the front end must "
                                    "supply its HTTP client");
    return transfer;
}

// The program's own file, so that the session starts this copy whether it is installed or built in place.
std::string runningProgram() {
    std::error_code failed;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failed);
    return failed ? std::string("tamberly") : self.string();
}

} // namespace

LinuxPlatform::LinuxPlatform(PlatformSetup setup)
    : m_transfer(required(std::move(setup.transfer))),
      m_systemProxy(recordPath(setup.settingsFolder),
                    setup.leaveDesktopAlone ? DesktopProxyOptions{} : DesktopProxyOptions::fromEnvironment(),
                    m_launcher),
      m_sessionStart(AutostartEntry::defaultPath(), runningProgram()) {}

std::string LinuxPlatform::cacheFolder() {
    return cacheDir();
}

std::unique_ptr<Platform> createPlatform(PlatformSetup setup) {
    return std::make_unique<LinuxPlatform>(std::move(setup));
}

} // namespace tamberly
