#pragma once

#include "platform/linux/proxy_servers.h"

#include <optional>
#include <string>

namespace tamberly {

/// GNOME's proxy setting, the schema org.gnome.system.proxy through GIO (also used by Cinnamon, MATE, Budgie,
/// Unity, and by Firefox on any desktop). Every call blocks its thread until the desktop's store has the change
/// (or lost it): callers bound them in time. Each write is read back, because GIO reports none of its failures.
namespace gnome_proxy {

/// Why the setting cannot be used at all, or nothing when it can.
enum class Unavailable { None, NoSchema, NoBus, NotDconf };

/// A write's or a read's outcome: problem is empty on success, otherwise a sentence saying why.
struct Outcome {
    Unavailable unavailable = Unavailable::None;
    std::string problem;
};

/// The schema's state as the desktop's programs see it.
struct State {
    std::string mode; // "none", "manual", "auto"
    ProxyServers servers;
    std::vector<std::string> ignoreHosts;
};

/// Sets the http, https, ftp and socks hosts and ports (and ignore-hosts when the user has no list); the mode
/// stays as it is.
Outcome writeServers(const ProxyServers& servers);
/// Sets the mode: "manual" when on, "none" when off. An automatic configuration URL is kept.
Outcome writeMode(bool manual);
/// Reads the mode and the proxies.
Outcome read(State& state);

} // namespace gnome_proxy
} // namespace tamberly
