#pragma once

#include "ip_address.h"

#include <string>
#include <utility>
#include <vector>

namespace tamberly {

/// A request's header lines as received: names as sent, in order.
using HeaderLines = std::vector<std::pair<std::string, std::string>>;

/// The judge page's answer (the check's plain judge format): the client's address and the request's header lines.
/// From a trusted peer the client is the one the X-Forwarded-For walk gives, and what the trusted proxies added is
/// left out (the walked part of X-Forwarded-For and of Forwarded, their X-Real-IP, X-Forwarded-Proto, -Host,
/// -Port), so that a list server behind a front web server does not make every proxy look like one that tells.
std::string judgePageText(const IpAddress& peer, const HeaderLines& headers, const std::vector<IpRange>& trusted);

} // namespace tamberly
