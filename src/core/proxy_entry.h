#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamberly {

/// How a proxy is spoken to.
enum class ProxyScheme { Http, Socks5 };

/// One proxy address, host:port, taken apart and normalised: a host name in lower case, an IPv6 address in its
/// short form (RFC 5952) without brackets, an IPv4-mapped IPv6 address as plain IPv4, the port as a number.
struct ProxyEntry {
    enum class HostKind { Name, Ipv4, Ipv6 };

    ProxyScheme scheme = ProxyScheme::Http;
    HostKind hostKind = HostKind::Name;
    std::string host;
    std::uint16_t port = 0;

    /// "host:port", an IPv6 host in brackets; no scheme.
    std::string hostPort() const;
    /// The entry as it is written: hostPort(), with "socks5://" in front for a SOCKS proxy.
    std::string text() const;

    bool operator==(const ProxyEntry&) const = default;
};

/// An entry read from text, or why the text is not one.
struct EntryParse {
    std::optional<ProxyEntry> entry;
    /// A short phrase for the user when entry is empty, e.g. "port must be a number from 1 to 65535".
    std::string why;
};

/// The two halves of "host:port" or "[host]:port", neither checked: what every reader of an address splits first.
struct HostPortSplit {
    std::string_view host; // without the brackets
    std::string_view port;
    bool bracketed = false;
    /// Set, and the halves empty, when the text has no such shape: a bracket not closed, or not followed by ":",
    /// no ":" at all, or a ":" in a host without brackets.
    std::string why;
};
HostPortSplit splitHostPort(std::string_view text);

/// Reads one entry: "host:port", "http://host:port" or "socks5://host:port" (the scheme in any case). The rules:
/// a port is required (1 to 65535; leading zeros allowed); an IPv4 address is a dotted quad without leading zeros or
/// short forms; a name is DNS labels (letters, digits, "-"; its last label not all digits); an IPv6 address is in
/// brackets (no zone). Nothing is trimmed: a blank anywhere refuses the text. Accepts any bytes.
EntryParse parseProxyEntry(std::string_view text);

/// The proxy for each protocol, as a ProxyServer text and the desktops' settings keep them.
struct ProxyServers {
    std::optional<ProxyEntry> http, https, ftp, socks;

    /// No protocol has a proxy.
    bool empty() const { return !http && !https && !ftp && !socks; }
    bool operator==(const ProxyServers&) const = default;
};

/// Servers read from text, or why the text names none.
struct ServersParse {
    std::optional<ProxyServers> servers;
    std::string why;
};

/// Reads a ProxyServer text: one entry (a plain or "http://" entry is the proxy for http, https and ftp, a
/// "socks5://" entry the socks proxy), or the per-protocol form "http=a:1;https=b:2;ftp=c:3;socks=d:4" (blanks
/// around the parts allowed, empty parts and protocols without a desktop setting skipped, each value a plain
/// host:port). The empty text is refused.
ServersParse parseProxyServers(std::string_view text);

/// A row of the list that the commands would put in force: a text parseProxyServers reads.
bool isProxyAddress(std::string_view row);

/// The ProxyServer text for servers: "host:port" when http, https and ftp name one proxy and socks none, else the
/// per-protocol form of the protocols that have one; the empty text when none has.
std::string formatProxyServers(const ProxyServers& servers);

} // namespace tamberly
