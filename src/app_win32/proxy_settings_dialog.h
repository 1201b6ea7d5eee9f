#pragma once

#include "commands/view.h"

#include <string>
#include <vector>

#include <windows.h>

namespace tamberly::win32 {

/// Opens the program's own proxy settings dialog (IDD_PROXY_SETTINGS of instance), not modal, as the system's own
/// panel is not, and returns it at once: it shows server and on and names the places a change is written to; OK
/// calls save and closes, unless save says why not, which is shown while the dialog stays open. Each opening is a
/// dialog of its own with the values of now; the dialog frees itself when closed.
HWND openProxySettingsDialog(HINSTANCE instance, HWND owner, const std::string& server, bool on,
                             const std::vector<std::string>& places, View::SaveProxySetting save);

} // namespace tamberly::win32
