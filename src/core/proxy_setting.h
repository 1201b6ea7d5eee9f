#pragma once

#include "core/proxy_entry.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamberly {

enum class ProxyMode {
    Off,       // every request goes direct
    Manual,    // the servers below
    Automatic, // a configuration script (autoConfigUrl), or detection (WPAD) when it has no URL
};

/// The user's web proxy as the system keeps it: what SystemProxy::current() reports and, as a change, what
/// SystemProxy::apply() writes.
struct ProxySetting {
    ProxyMode mode = ProxyMode::Off;
    /// The proxy for each protocol. In a change, nullopt leaves the servers the system holds as they are: turning
    /// the proxy off keeps the last server, as the Internet Settings keep ProxyServer.
    std::optional<ProxyServers> servers;
    /// Hosts that go direct. In a change, nullopt keeps the user's own list, or where there is none sets the local
    /// one: "localhost", "127.0.0.0/8", "::1".
    std::optional<std::vector<std::string>> bypass;
    /// Automatic: the configuration script's address; empty means detection.
    std::string autoConfigUrl;

    /// The change that turns the proxy off and keeps everything else.
    static ProxySetting off() { return {}; }
    /// The change that puts servers in force.
    static ProxySetting manual(ProxyServers servers) { return {ProxyMode::Manual, std::move(servers), {}, {}}; }

    bool operator==(const ProxySetting&) const = default;
};

/// Whether a stored ProxyEnable text says "use ProxyServer": read as a number (blanks, tabs and line feeds skipped
/// at the start, then a sign, then digits; anything else ends the number, and no digits at all read as 0), it is 1.
/// " 1", "+1" and "1x" are on; "yes", "\r1" and "-1" are off.
bool proxyEnableIsOn(std::string_view text);

/// Changes to the environment a started program inherits.
struct EnvironmentChange {
    /// Variables removed first.
    std::vector<std::string> unset;
    /// Then set, as name and value.
    std::vector<std::pair<std::string, std::string>> set;

    bool operator==(const EnvironmentChange&) const = default;
};

/// The environment a browser needs to follow setting where it reads no desktop setting: every proxy variable
/// (http_proxy, https_proxy, ftp_proxy, no_proxy, each in both cases) removed, then, while a manual proxy is on,
/// "http://host:port" for each protocol that has one and no_proxy "localhost,127.0.0.1,::1".
EnvironmentChange proxyEnvironment(const ProxySetting& setting);

} // namespace tamberly
