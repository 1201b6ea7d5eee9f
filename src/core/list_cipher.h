#pragma once

#include <string>
#include <string_view>

namespace tamberly {

/// The stored list's cipher: a Beaufort substitution over a 97-character alphabet with a repeating key. It is its
/// own inverse: the same call scrambles and unscrambles.
class ListCipher final {
public:
    /// The key every stored list is scrambled with: a prefs.ini written by an earlier copy reads back with it.
    static constexpr std::string_view kListKey = "VELTOR";

    explicit ListCipher(std::string key = std::string(kListKey));
    /// text scrambled, or unscrambled when it was scrambled with the same key. A key symbol outside the alphabet
    /// drops the text symbol under it; bytes outside the alphabet pass through.
    std::string apply(std::string_view text) const;

    /// The 97 symbols in cipher order: printable ASCII without the double quote, then CR, LF and the double quote.
    static std::string_view alphabet();

private:
    std::string m_key;
};

} // namespace tamberly
