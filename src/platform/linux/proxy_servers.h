#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tamberly {

/// One proxy of a desktop setting; the host is bare (an IPv6 address without brackets), port 0 when unset.
struct ProxyHost {
    std::string host;
    int port = 0;
    bool operator==(const ProxyHost&) const = default;
};

/// The proxies per protocol, as the desktops keep them.
struct ProxyServers {
    ProxyHost http, https, ftp, socks;
    bool operator==(const ProxyServers&) const = default;
};

/// Reads a ProxyServer text: a bare "host:port" means one proxy for http, https and ftp (socks empty), as on
/// Windows; "http=a:1;https=b:2;ftp=c:3;socks=d:4" names each protocol. "[::1]:8080" gives the host ::1; a
/// missing port means 80. Returns nullopt, with why set, for a text a desktop setting cannot carry.
std::optional<ProxyServers> parseProxyServer(const std::string& text, std::string& why);

/// The ProxyServer text for a desktop's proxies: "host:port" when http, https and ftp agree and socks is
/// empty, else the per-protocol form of the protocols that have a host; empty when none has one.
std::string formatProxyServer(const ProxyServers& servers);

/// "host:port", with the host in brackets when it is an IPv6 address.
std::string hostPort(const ProxyHost& proxy);

/// The variables a launched program needs to use the proxies ("http_proxy=http://host:port" and friends, both
/// cases, and no_proxy); empty when no protocol has a host.
std::vector<std::string> proxyEnvironment(const ProxyServers& servers);

/// Names of every variable proxyEnvironment may set, so a launch with the proxy off can remove them.
const std::vector<std::string>& proxyEnvironmentNames();

} // namespace tamberly
