#include "platform/windows/windows_platform.h"

#include "platform/windows/wininet_transfer.h"

#include <utility>

namespace tamberly {

WindowsPlatform::WindowsPlatform(std::unique_ptr<HttpTransfer> transfer)
    : m_transfer(transfer ? std::move(transfer) : std::make_unique<WinInetTransfer>()) {}

WindowsPlatform::~WindowsPlatform() = default;

std::unique_ptr<Platform> createPlatform(PlatformSetup setup) {
    // settingsFolder and leaveDesktopAlone have nothing to decide here: see WindowsPlatform.
    return std::make_unique<WindowsPlatform>(std::move(setup.transfer));
}

} // namespace tamberly
