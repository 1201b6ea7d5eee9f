#include "platform/linux/desktop_session.h"

#include "text/ascii_text.h"

#include <algorithm>
#include <cstdlib>

namespace tamberly {

std::vector<std::string> currentDesktops() {
    const char* value = std::getenv("XDG_CURRENT_DESKTOP");
    std::vector<std::string> desktops;
    for (const std::string_view name : splitList(value ? value : "", ':'))
        desktops.push_back(lowerAscii(name));
    return desktops;
}

bool currentDesktopIs(std::string_view desktop) {
    const auto desktops = currentDesktops();
    return std::find(desktops.begin(), desktops.end(), desktop) != desktops.end();
}

} // namespace tamberly
