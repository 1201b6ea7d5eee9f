#pragma once

#include "core/proxy_setting.h"

#include <string>

namespace tamberly {

/// GNOME's proxy setting, the schema org.gnome.system.proxy through GIO (also used by Cinnamon, MATE, Budgie,
/// Unity, and by Firefox on any desktop). Every call blocks its thread until the desktop's store has the change
/// (or lost it): callers bound them in time. A write is read back, because GIO reports none of its failures.
namespace gnome_proxy {

/// Why the setting cannot be used at all, or nothing when it can.
enum class Unavailable { None, NoGio, NoSchema, NoBus, NotDconf };

/// A write's or a read's outcome: problem is empty on success, otherwise why, as a phrase for a sentence.
struct Outcome {
    Unavailable unavailable = Unavailable::None;
    std::string problem;
};

/// Writes change as one change set, so no program ever sees half of it: the mode (with autoconfig-url when
/// automatic; kept otherwise), the http, https, ftp and socks hosts and ports when change names servers, and
/// ignore-hosts when change names a bypass list, or as the local hosts when servers are written and the user has
/// no list. Every key is checked for a lock first, since dconf drops a whole change set with a locked key in it.
Outcome write(const ProxySetting& change);

/// What the schema holds.
struct Reading {
    Outcome outcome;
    ProxySetting setting;
};
Reading read();

} // namespace gnome_proxy
} // namespace tamberly
