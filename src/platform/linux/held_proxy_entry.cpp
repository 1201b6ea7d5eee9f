#include "platform/linux/held_proxy_entry.h"

#include <string>

namespace tamberly {

ProxyEntry heldProxyEntry(std::string_view host, long port, ProxyScheme scheme) {
    // Some write an IPv6 address in its brackets.
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const bool ipv6 = host.find(':') != std::string_view::npos;
    const std::string text = (ipv6 ? "[" + std::string(host) + "]" : std::string(host)) + ":" + std::to_string(port);
    if (EntryParse parsed = parseProxyEntry(text); parsed.entry) {
        parsed.entry->scheme = scheme;
        return *parsed.entry;
    }
    ProxyEntry held;
    held.scheme = scheme;
    held.hostKind = ipv6 ? ProxyEntry::HostKind::Ipv6 : ProxyEntry::HostKind::Name;
    held.host = std::string(host);
    held.port = port >= 0 && port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
    return held;
}

} // namespace tamberly
