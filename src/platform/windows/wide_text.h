#pragma once

#include <string>

namespace tamberly {

/// UTF-8 to the UTF-16 of the W functions; invalid bytes become U+FFFD.
std::wstring widen(const std::string& text);
/// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string narrow(const std::wstring& text);
/// The system's message for a Win32 error code, in UTF-8, without the trailing line break.
std::string systemErrorText(unsigned long error);

} // namespace tamberly
