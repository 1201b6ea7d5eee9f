#pragma once

#include "core/proxy_setting.h"

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

/// Writes change with one replace of the file, then reads it back: ProxyType (0 none, 1 manual, 2 a script at
/// "Proxy Config Script", 3 detection; the script's address is kept for the others), httpProxy, httpsProxy,
/// ftpProxy and socksProxy when change names servers, and NoProxyFor when it names a bypass list, or as the local
/// hosts when servers are written and the group has none. Returns the empty text, or why it failed.
std::string write(const std::string& path, const ProxySetting& change);

/// The setting the group holds (ProxyType 4, the environment's variables, reads as off); nullopt when the file or
/// the group is missing.
std::optional<ProxySetting> read(const std::string& path);

/// Emits reparseSlaveConfiguration("") of org.kde.KIO.Scheduler at /KIO/Scheduler on the session bus.
/// Blocks until the bus has it; empty or why not.
std::string notifyRunningPrograms();

} // namespace kde_proxy
} // namespace tamberly
