#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tamberly {

class Settings;

/// The stored proxy list: the list text ("*" after every entry), kept scrambled in prefs.ini [Proxy] Proxylist.
class ProxyListStore final {
public:
    explicit ProxyListStore(Settings& settings) : m_settings(settings) {}
    /// The stored list text; the empty text when none is stored.
    std::string load() const;
    /// Replaces the stored list; returns the empty text, or why it could not be written.
    std::string save(std::string_view text);

private:
    Settings& m_settings;
};

/// The entries of a list text, in order: the text before each "*" (text after the last "*" belongs to none). The
/// views point into text.
std::vector<std::string_view> splitListText(std::string_view text);

} // namespace tamberly
