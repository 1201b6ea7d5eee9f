#pragma once

#include <string>

namespace tamberly {

class BrowserLaunch;
class ListBox;
class RandomSource;
class SystemProxy;

/// The commands that put a proxy of the list into force, or turn the proxy off, and then start the browser.
class SelectionCommands final {
public:
    /// Proxydisplay is the list box the entries are read from; iniPath the window's settings file path.
    SelectionCommands(ListBox& Proxydisplay, SystemProxy& proxy, BrowserLaunch& launch, RandomSource& random,
                      const std::string& iniPath);

    /// "Use and launch": the selected entry (the first when none is selected), then the browser.
    void choice_Click();
    /// "Use this proxy": the selected entry (the empty text when none is selected); no browser.
    void Mnuthisproxy_Click();
    /// "Random proxy and launch": an entry drawn at random, then the browser.
    void MnuSwitch_Click();
    /// "No proxy and launch": the proxy off, then the browser.
    void Mnunoproxy2_Click();

private:
    std::string browserPath() const;

    ListBox& m_Proxydisplay;
    SystemProxy& m_proxy;
    BrowserLaunch& m_launch;
    RandomSource& m_random;
    const std::string& m_iniPath;
};

} // namespace tamberly
