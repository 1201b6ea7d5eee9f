#pragma once

#include <string>

namespace tamberly {

/// The full path of an executable program: an absolute path as given, a bare name searched in PATH's absolute
/// folders (/usr/local/bin:/usr/bin:/bin without PATH); empty when there is none or program is a relative path.
std::string findOnPath(const std::string& program);

} // namespace tamberly
