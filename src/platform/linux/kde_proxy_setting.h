#pragma once

#include "platform/linux/proxy_servers.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tamberly {

/// KDE's proxy setting (Plasma 5 and 6): the [Proxy Settings] group of kioslaverc, then a session-bus signal
/// that makes running KDE programs read it again. The file is edited, never rewritten from scratch: every other
/// line stays as it was, and the new file replaces the old one atomically.
namespace kde_proxy {

/// $XDG_CONFIG_HOME/kioslaverc, by default ~/.config/kioslaverc.
std::string defaultPath();

/// The new text of a kioslaverc after setting keys in [Proxy Settings] (values taken as they are), adding the
/// keys of addIfMissing only where the group has no such key; every other line is kept.
std::string editProxyGroup(const std::optional<std::string>& old,
                           const std::vector<std::pair<std::string, std::string>>& keys,
                           const std::vector<std::pair<std::string, std::string>>& addIfMissing = {});

/// Sets httpProxy, httpsProxy, ftpProxy and socksProxy (and NoProxyFor when there is none). Empty or why not.
std::string writeServers(const std::string& path, const ProxyServers& servers);
/// Sets ProxyType: 1 (manual) when on, 0 (none) when off. Empty or why not.
std::string writeMode(const std::string& path, bool manual);

/// The group's state; nullopt when the file or the group is missing.
struct State {
    int proxyType = 0;
    ProxyServers servers;
};
std::optional<State> read(const std::string& path);

/// Emits reparseSlaveConfiguration("") of org.kde.KIO.Scheduler at /KIO/Scheduler on the session bus.
/// Blocks until the bus has it; empty or why not.
std::string notifyRunningPrograms();

} // namespace kde_proxy
} // namespace tamberly
