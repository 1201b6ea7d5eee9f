#pragma once

#include "core/proxy_setting.h"

#include <string>
#include <vector>

namespace tamberly {

/// Why a program could not be started; each has its message in the commands (launchErrorText).
enum class LaunchError {
    None, // started
    FileNotFound,
    PathNotFound,
    AccessDenied,
    OutOfMemory,
    BadFormat,
    SharingViolation,
    IncompleteAssociation,
    DdeTimeout,
    DdeFailed,
    DdeBusy,
    NoAssociation,
    DllNotFound,
    Unknown,
};

/// Starts programs the way the desktop's shell does: detached, never waited for, never left behind as a zombie.
class Launcher {
public:
    virtual ~Launcher() = default;
    /// Starts program (a path, or a name the system finds) with arguments. environment is applied to what the
    /// program inherits where the system passes a proxy that way (Linux); Windows programs read the Internet
    /// Settings instead, and there it is not used.
    virtual LaunchError launch(const std::string& program, const std::vector<std::string>& arguments,
                               const EnvironmentChange& environment) = 0;
    /// Opens url in a new browser window, once: with browser (a path or a name) when given, else the desktop's
    /// default browser.
    virtual LaunchError openUrl(const std::string& url, const std::string& browser,
                                const EnvironmentChange& environment) = 0;
    /// The browser's program on this machine, for the first start; the empty text when none is found.
    virtual std::string findBrowser() = 0;
};

} // namespace tamberly
