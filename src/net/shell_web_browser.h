#pragma once

#include "net/settings_web_browser.h"

#include <string>

namespace tamberly {

/// The Windows shell's way: the stored browser gets the address as its one quoted argument, and the shell's open
/// of the address itself starts the user's default browser when none is stored.
class ShellWebBrowser final : public SettingsWebBrowser {
public:
    /// iniPath is the window's settings file path, read at every use.
    ShellWebBrowser(Shell& shell, const std::string& iniPath) : SettingsWebBrowser(shell, iniPath) {}

private:
    Request request(const std::string& program, const std::string& url) const override;
};

} // namespace tamberly
