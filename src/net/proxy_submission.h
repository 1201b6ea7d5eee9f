#pragma once

#include <string>

namespace tamberly {

class Dialogs;
class ListBox;
class StatusLine;
class TransferControl;

/// "Add a new proxy" and "Report dead proxy": send one proxy entry to the list server after the user confirms.
class ProxySubmission final {
public:
    ProxySubmission(TransferControl& inet, StatusLine& status, ListBox& display, Dialogs& dialogs,
                    const std::string& iniPath);

    /// Asks for an entry and offers it to the list server as a new proxy.
    void Mnuadd_Click();
    /// Reports the selected entry of `Proxydisplay` as no longer working.
    void Mnudead_Click();

private:
    /// Sends entry to page once the transfer control is free; the status line tells the outcome.
    void send(const std::string& page, const std::string& entry, const std::string& done, const std::string& failed);

    TransferControl& m_inet;
    StatusLine& m_status;
    ListBox& m_display;
    Dialogs& m_dialogs;
    const std::string& m_iniPath;
};

} // namespace tamberly
