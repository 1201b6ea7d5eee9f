#pragma once

#include "platform/transfer_control.h"

#include <cstddef>
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

/// Longest server reason shown, in characters.
inline constexpr std::size_t kMaxReasonCharacters = 200;

/// The server's reason as one line of plain text: its first line, with control characters (also the invisible
/// ones that reorder text) and bytes that are not UTF-8 removed, blanks at the ends trimmed, cut to
/// kMaxReasonCharacters characters.
std::string serverReasonLine(const std::string& reason);

/// What a failed transfer tells the user. The server's reason, when it gave one, comes first and the error after it
/// in brackets: the status line is narrow, and the reason is what the user can act on.
std::string transferFailureText(const TransferResult& result);

} // namespace tamberly
