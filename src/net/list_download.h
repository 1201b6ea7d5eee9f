#pragma once

#include <string>

namespace tamberly {

class ListBox;
class StatusLine;
class SystemProxy;
class Timer;
class TransferControl;

/// "Download List": fetches the list from the list server, then on the next tick of `Timer1` stores it and
/// rebuilds `Proxydisplay` from it. The two handlers meet through the download holder `proxylist`.
class ListDownload final {
public:
    ListDownload(SystemProxy& proxy, TransferControl& inet, Timer& timer, StatusLine& status, ListBox& display,
                 std::string& proxylist, const std::string& iniPath);

    /// Switches the proxy off, then fetches the list text into the holder and starts the timer.
    void Mnulist_Click();
    /// Stores the fetched text and shows its entries.
    void Timer1_Timer();

private:
    SystemProxy& m_proxy;
    TransferControl& m_inet;
    Timer& m_timer;
    StatusLine& m_status;
    ListBox& m_display;
    std::string& m_proxylist;
    const std::string& m_iniPath;
};

} // namespace tamberly
