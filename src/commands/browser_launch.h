#pragma once

#include "platform/launcher.h"

#include <functional>
#include <string>

namespace tamberly {

class Settings;
class View;

/// Starts the browser named in the settings ([Path] IE), read anew at each start, and tells the user why when it
/// cannot.
class BrowserLaunch final {
public:
    BrowserLaunch(View& view, Launcher& launcher, Settings& settings);

    /// Starts the browser with the environment given (asked for only when there is a browser to start); false,
    /// after telling the user why, when there is none or it did not start.
    bool start(const std::function<EnvironmentChange()>& environment);

private:
    View& m_view;
    Launcher& m_launcher;
    Settings& m_settings;
};

/// The message for a launch that failed: "File not found", "Access denied", ..., "Unknown error".
std::string launchErrorText(LaunchError error);

} // namespace tamberly
