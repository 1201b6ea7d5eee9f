#pragma once

#include <string>

namespace tamberly {

class Dialogs;
class OptionsPanel;
class WebBrowser;

/// "Visit Website" and "Show Internet Options": open things outside the program, change nothing of its own.
class Website final {
public:
    Website(WebBrowser& browser, OptionsPanel& options, Dialogs& dialogs, const std::string& iniPath);

    /// Opens the list server's web page in a new browser window.
    void Mnuvisit_Click();
    /// Opens the Internet Options panel and returns at once.
    void Mnuclose_Click();

private:
    WebBrowser& m_browser;
    OptionsPanel& m_options;
    Dialogs& m_dialogs;
    const std::string& m_iniPath;
};

} // namespace tamberly
