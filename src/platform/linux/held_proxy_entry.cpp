#include "platform/linux/held_proxy_entry.h"

#include <string>

namespace tamberly {

ProxyEntry heldProxyEntry(std::string_view host, long port, ProxyScheme scheme) {
    // Some write an IPv6 address in its brackets.
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    ProxyEntry held;
    held.scheme = scheme;
    held.hostKind = host.find(':') != std::string_view::npos ? ProxyEntry::HostKind::Ipv6 : ProxyEntry::HostKind::Name;
    held.host = std::string(host);
    held.port = port > 0 && port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
    if (EntryParse parsed = parseProxyEntry(held.hostPort()); parsed.entry) {
        parsed.entry->scheme = scheme;
        return *parsed.entry;
    }
    return held;
}

} // namespace tamberly
