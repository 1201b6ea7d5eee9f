#pragma once

#include "platform/registry.h"

#include <string>

namespace tamberly {

class Dialogs;
class StatusLine;

/// Writes and reports the system proxy settings; the registry is the only record of the proxy in force.
class SystemProxy final {
public:
    SystemProxy(Registry& registry, StatusLine& status, Dialogs& dialogs);

    /// Makes entry the proxy in force: ProxyServer, then the status text, then ProxyEnable = 1.
    /// Returns false (after telling the user why) when the registry could not be written.
    bool UseProxy(const std::string& entry);
    /// Switches the proxy off (ProxyEnable = 0), leaving ProxyServer and the status line alone.
    bool DisableProxy();

    /// "No proxy"
    void Mnunoproxy_Click();
    /// "Show current proxy"
    void currproxy_Click();

private:
    bool write(const char* fullName, const RegValue& value, const char* typeName);

    Registry& m_registry;
    StatusLine& m_status;
    Dialogs& m_dialogs;
};

} // namespace tamberly
