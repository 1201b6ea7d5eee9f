#pragma once

#include <string>

namespace tamberly {

class Dialogs;
class Shell;

/// Starts the browser named in the settings file and reports why when it cannot.
class BrowserLaunch final {
public:
    /// iniPath is the window's settings file path, read at every use.
    BrowserLaunch(Shell& shell, Dialogs& dialogs, const std::string& iniPath);

    /// Asks the shell to open DocName, with no parameters, from "C:\"; returns the shell's result unchanged.
    long StartDoc(const std::string& DocName);
    /// Starts the browser at path, or tells the user why it could not be started. Returns true when it started.
    bool LaunchBrowser(const std::string& path);
    /// The message for a shell result of 32 or less.
    static std::string ShellErrorText(long code);

    /// "Launch"
    void Mnulaunch_Click();

private:
    Shell& m_shell;
    Dialogs& m_dialogs;
    const std::string& m_iniPath;
};

} // namespace tamberly
