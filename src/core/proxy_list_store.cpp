#include "core/proxy_list_store.h"

#include "core/list_cipher.h"
#include "core/settings.h"

#include <algorithm>

namespace tamberly {

std::string ProxyListStore::load() const {
    return ListCipher().apply(m_settings.scrambledList());
}

std::string ProxyListStore::save(std::string_view text) {
    return m_settings.setScrambledList(ListCipher().apply(text));
}

std::vector<std::string_view> splitListText(std::string_view text) {
    std::vector<std::string_view> rows;
    rows.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '*')));
    std::size_t start = 0;
    for (std::size_t star = text.find('*'); star != std::string_view::npos; star = text.find('*', start)) {
        rows.push_back(text.substr(start, star - start));
        start = star + 1;
    }
    return rows;
}

} // namespace tamberly
