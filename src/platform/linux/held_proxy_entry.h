#pragma once

#include "core/proxy_entry.h"

#include <string_view>

namespace tamberly {

/// The proxy a desktop setting holds as a bare host (an IPv6 address without brackets) and a port, as an entry:
/// normalised where the entry rules take it, otherwise exactly as the desktop holds it (a port out of range as 0),
/// so that what the user set there is reported, not hidden.
ProxyEntry heldProxyEntry(std::string_view host, long port, ProxyScheme scheme);

} // namespace tamberly
