#pragma once

#include <string>

namespace tamberly {

class BrowserLocator;
class ListBox;

/// Start-up, the same on every front end: fills Proxydisplay from the list stored in the settings file at iniPath,
/// and on the first start (no browser path stored yet) stores the browser the locator finds.
void Form_Load(const std::string& iniPath, ListBox& Proxydisplay, BrowserLocator& locator);

} // namespace tamberly
