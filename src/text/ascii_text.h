#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tamberly {

/// Every ASCII blank: space, tab, line feed, carriage return, vertical tab, form feed.
inline constexpr std::string_view kAsciiBlanks = " \t\n\v\f\r";

/// text without the characters of blanks at either end; a view into text.
std::string_view trim(std::string_view text, std::string_view blanks = kAsciiBlanks);

/// c with A-Z lowered; every other byte as it is, whatever the locale.
char lowerAscii(char c);
std::string lowerAscii(std::string_view text);

/// Whether a and b are the same text when A-Z and a-z are taken as one.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

/// The hex digits, upper case, indexed by their value.
inline constexpr std::string_view kUpperHexDigits = "0123456789ABCDEF";

/// The value of a hex digit (either case), or -1.
int hexDigitValue(char c);

/// The pieces of a separated list such as PATH or XDG_CURRENT_DESKTOP ("a:b::c" gives "a", "b", "", "c"); none
/// for the empty text. Views into text.
std::vector<std::string_view> splitList(std::string_view text, char separator);

/// A value from outside (a header, a server's word) as one short line for a status text: trimmed, printable ASCII
/// only, at most 40 characters, then "...".
std::string shownLine(std::string_view value);

/// text with every byte that keep refuses written as %HH (upper-case digits).
std::string percentEncode(std::string_view text, bool (*keep)(unsigned char byte));

} // namespace tamberly
