#pragma once

#include "platform/launcher.h"
#include "platform/windows/app_paths_browser_locator.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tamberly {

/// Starts programs and opens pages through the shell's open request (ShellExecuteW), from the folder "C:\" (so a
/// started program never depends on Tamberly's own working folder), in a normal window, never waiting for them.
class ShellLauncher final : public Launcher {
public:
    explicit ShellLauncher(AppPathsBrowserLocator browsers = AppPathsBrowserLocator());

    /// The arguments become one parameters text, each quoted where it needs it. environment is not used: Windows
    /// programs read the proxy from the Internet Settings, and the shell starts them with the user's environment.
    LaunchError launch(const std::string& program, const std::vector<std::string>& arguments,
                       const EnvironmentChange& environment) override;
    /// The browser gets the address as its one quoted argument (a double quote in it percent-encoded); with no
    /// browser the shell opens the address itself, in the user's default browser. environment is not used.
    LaunchError openUrl(const std::string& url, const std::string& browser,
                        const EnvironmentChange& environment) override;
    /// Internet Explorer's App Paths entry, else the user's default browser.
    std::string findBrowser() override;

    /// argument as a command line carries it: in quotes when it is empty or holds a blank or a quote (or always,
    /// when told), backslashes and quotes escaped so that the program's start-up code reads it back unchanged.
    static std::string quoteArgument(const std::string& argument, bool always = false);
    /// What a ShellExecute result says: above 32 it started; 32 or less is the shell's failure code.
    static LaunchError launchError(std::intptr_t shellResult);

private:
    LaunchError execute(const std::string& file, const std::string& parameters);

    AppPathsBrowserLocator m_browsers;
};

} // namespace tamberly
