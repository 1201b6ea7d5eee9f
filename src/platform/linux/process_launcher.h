#pragma once

#include "platform/launcher.h"

#include <chrono>
#include <string>
#include <vector>

namespace tamberly {

/// Starts programs as detached processes in a session of their own, in the root folder, with standard input from
/// /dev/null, none of the program's other descriptors and default signals: the program never waits for them and
/// never leaves a zombie behind. Each gets our environment with the given change applied.
class ProcessLauncher final : public Launcher {
public:
    /// browserLookupWait bounds how long the desktop may take to name its default browser.
    explicit ProcessLauncher(std::chrono::milliseconds browserLookupWait = std::chrono::milliseconds(1000));

    LaunchError launch(const std::string& program, const std::vector<std::string>& arguments,
                       const EnvironmentChange& environment) override;
    /// The stored browser with the address ("--new-window" first where it takes one), or xdg-open without one.
    LaunchError openUrl(const std::string& url, const std::string& browser,
                        const EnvironmentChange& environment) override;
    /// The desktop's default browser, else the first well-known browser on PATH.
    std::string findBrowser() override;

    /// Why a start failed, from its errno; program tells a missing folder on the way from a missing file.
    static LaunchError errorFor(int error, const std::string& program);
    /// base (NAME=value entries) after change: its unset names and the names it sets removed, then its values added.
    static std::vector<std::string> changedEnvironment(char* const* base, const EnvironmentChange& change);

private:
    std::chrono::milliseconds m_browserLookupWait;
};

} // namespace tamberly
