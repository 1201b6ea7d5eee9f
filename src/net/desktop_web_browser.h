#pragma once

#include "net/settings_web_browser.h"

#include <string>

namespace tamberly {

/// The Linux desktop's way: the stored browser gets the address as its argument ("--new-window" first where it
/// takes one), and xdg-open opens it in the desktop's default browser when none is stored.
class DesktopWebBrowser final : public SettingsWebBrowser {
public:
    /// iniPath is the window's settings file path, read at every use.
    DesktopWebBrowser(Shell& shell, const std::string& iniPath) : SettingsWebBrowser(shell, iniPath) {}

    /// Whether program (a path or a bare name) is a browser that takes "--new-window".
    static bool takesNewWindow(const std::string& program);

private:
    /// Browsers known to open a new window for "--new-window URL" get it; others get the plain URL, which most
    /// of them open in a new window or tab.
    Request request(const std::string& program, const std::string& url) const override;
};

} // namespace tamberly
