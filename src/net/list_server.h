#pragma once

#include <string>

namespace tamberly {

/// Where the list server listens when prefs.ini names no other place.
inline constexpr const char* kDefaultListServerUrl = "http://127.0.0.1:8642";

/// The list server's base URL: prefs.ini [Server] URL, else kDefaultListServerUrl; never ends in "/".
/// Read anew at each call, so an edit of the settings file takes effect at the next request.
std::string listServerUrl(const std::string& iniPath);

/// The text percent-encoded for a query value: letters, digits, "-", ".", "_", "~" and ":" stay as they are,
/// every other byte becomes %XX, so a blank, "&", "=", "#" or "+" can neither break nor forge the request.
std::string encodeQueryValue(const std::string& text);

} // namespace tamberly
