#pragma once

#include <string>
#include <string_view>

namespace tamberly {

/// The list cipher: a Beaufort substitution over a 97-character alphabet with a repeating key.
/// Encrypt is its own inverse under the same key.
class dsEncrypt final {
public:
    dsEncrypt();
    /// Sets the key used by the next Encrypt calls.
    void KeyString(const std::string& sKeyString);
    /// Scrambles or unscrambles mstext.
    std::string Encrypt(const std::string& mstext) const;

    /// The 97 symbols in cipher order: printable ASCII without the double quote, then CR, LF and the double quote.
    static std::string_view Alphabet();

private:
    std::string m_key;
};

} // namespace tamberly
