#pragma once

#include "platform/http_transfer.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace tamberly {

/// The list server's requests, under its base URL (Settings::listServerUrl): every path begins with "/Tamberly/".
namespace list_server {

/// The list text: every entry followed by "*".
std::string listUrl(const std::string& base);
/// Offers entry as a new proxy.
std::string submitUrl(const std::string& base, std::string_view entry);
/// Reports entry as a dead proxy.
std::string reportUrl(const std::string& base, std::string_view entry);
/// The server's web page.
std::string pageUrl(const std::string& base);

} // namespace list_server

/// The text percent-encoded for a query value: letters, digits, "-", ".", "_", "~" and ":" stay as they are,
/// every other byte becomes %XX, so a blank, "&", "=", "#" or "+" can neither break nor forge the request.
std::string encodeQueryValue(std::string_view text);

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
