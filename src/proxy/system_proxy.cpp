#include "proxy/system_proxy.h"

#include "platform/dialogs.h"
#include "platform/status_line.h"

namespace tamberly {
SystemProxy::SystemProxy(Registry& registry, StatusLine& status, Dialogs& dialogs)
    : m_registry(registry), m_status(status), m_dialogs(dialogs) {}

bool SystemProxy::write(const char* fullName, const RegValue& value, const char* typeName) {
    try {
        m_registry.RegWrite(fullName, value, typeName);
        return true;
    } catch (const RegistryError& e) {
        m_dialogs.MsgBox(std::string("The proxy setting could not be changed: ") + e.what());
        return false;
    }
}

bool SystemProxy::UseProxy(const std::string& entry) {
    // Stop when the server could not be written: enabling the old server would report a failure as success.
    if (!write(kProxyServerName, entry, "REG_SZ"))
        return false;
    m_status.setCaption("Proxy changed to : " + entry);
    return write(kProxyEnableName, std::uint32_t{1}, "REG_DWORD");
}

bool SystemProxy::DisableProxy() {
    return write(kProxyEnableName, std::uint32_t{0}, "REG_DWORD");
}

void SystemProxy::Mnunoproxy_Click() {
    DisableProxy();
}

void SystemProxy::currproxy_Click() {
    try {
        // A missing ProxyEnable, or one that is not a number, means the proxy is off.
        const auto enable = m_registry.RegRead(kProxyEnableName);
        if (!enable || !proxyEnableIsOn(*enable)) {
            m_status.setCaption("Proxy desactivated");
            return;
        }
        const auto server = m_registry.RegRead(kProxyServerName);
        const std::string text = server ? regValueText(*server) : std::string();
        m_status.setCaption(text.empty() ? "No proxy" : "Current proxy : " + text);
    } catch (const RegistryError& e) {
        m_status.setCaption(std::string("Cannot read the proxy setting: ") + e.what());
    }
}

} // namespace tamberly
