#pragma once

#include <memory>
#include <string>

namespace tamberly {

class HttpTransfer;
class Launcher;
class RandomSource;
class SessionStart;
class SystemProxy;

/// Everything the program needs of the operating system, from one object that each OS builds in createPlatform.
class Platform {
public:
    virtual ~Platform() = default;
    virtual SystemProxy& systemProxy() = 0;
    virtual Launcher& launcher() = 0;
    virtual HttpTransfer& transfer() = 0;
    virtual RandomSource& random() = 0;
    virtual SessionStart& sessionStart() = 0;
    /// The per-user folder for what the program can find out again (the last check's results); not created here.
    virtual std::string cacheFolder() = 0;
};

/// What createPlatform needs to know.
struct PlatformSetup {
    /// The folder of the program's settings file; the record of the proxy in force lives beside it where the OS
    /// keeps none of its own (Linux: registry.reg).
    std::string settingsFolder;
    /// Write the record only, and leave the desktop's own proxy setting alone (prefs.ini [Desktop] LeaveAlone=1).
    bool leaveDesktopAlone = false;
    /// The HTTP client where the OS's platform has none of its own: on Linux the libcurl client built with the
    /// front end's wait, whose requests wait inside the window's event loop. On Windows the window's WinInetTransfer,
    /// built with the hook that gives the window its keys while a request waits; without one, createPlatform builds one
    /// with no hook.
    std::unique_ptr<HttpTransfer> transfer;
};

/// The platform of the OS the program was built for; defined once per OS.
std::unique_ptr<Platform> createPlatform(PlatformSetup setup);

} // namespace tamberly
