#include "platform/linux/user_paths.h"

#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace tamberly {

std::string homeDir() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return {};
}

std::string xdgBaseDir(const char* variable, const char* fallbackUnderHome) {
    if (const char* value = std::getenv(variable); value && value[0] == '/')
        return value;
    const std::string home = homeDir();
    return home.empty() ? std::string() : home + "/" + fallbackUnderHome;
}

std::string configDir() {
    const std::string base = xdgBaseDir("XDG_CONFIG_HOME", ".config");
    // With no home at all, a folder of its own under /tmp rather than one at the root.
    return (base.empty() ? std::string("/tmp/.config") : base) + "/tamberly";
}

std::string cacheDir() {
    const std::string base = xdgBaseDir("XDG_CACHE_HOME", ".cache");
    return (base.empty() ? std::string("/tmp/.cache") : base) + "/tamberly";
}

} // namespace tamberly
