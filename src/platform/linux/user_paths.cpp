#include "platform/linux/user_paths.h"

#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace tamberly {
namespace {

std::string homeDir() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/tmp";
}

// XDG says a relative value is invalid and must be ignored.
std::string xdgDir(const char* variable, const char* fallbackUnderHome) {
    if (const char* value = std::getenv(variable); value && value[0] == '/')
        return value;
    return homeDir() + "/" + fallbackUnderHome;
}

} // namespace

std::string configDir() {
    return xdgDir("XDG_CONFIG_HOME", ".config") + "/tamberly";
}

} // namespace tamberly
