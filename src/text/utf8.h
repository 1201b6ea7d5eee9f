#pragma once

#include <cstddef>
#include <string_view>

namespace tamberly {

/// Decodes the UTF-8 character at text[i] and moves i past it; returns -1, moving i one byte on, for a byte that
/// does not start a valid character (overlong forms, surrogates and code points past U+10FFFF are not valid).
long nextCodePoint(std::string_view text, std::size_t& i);

/// Whether text is valid UTF-8 from end to end.
bool isValidUtf8(std::string_view text);

} // namespace tamberly
