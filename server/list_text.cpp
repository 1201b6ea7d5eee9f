#include "list_text.h"

namespace tamberly {
namespace {

// Large enough that a list of a million entries is a few hundred pieces, small enough to copy in microseconds.
constexpr std::size_t kPieceSize = 32 * 1024;

// Where "entry*" starts in a piece, on an entry's boundary; npos when it is not there.
std::size_t findEntry(std::string_view piece, const std::string& item) {
    for (std::size_t at = piece.find(item); at != std::string_view::npos; at = piece.find(item, at + 1)) {
        if (at == 0 || piece[at - 1] == '*')
            return at;
    }
    return std::string_view::npos;
}

} // namespace

std::shared_ptr<const ListText> ListText::make(const std::vector<std::string>& entries) {
    auto list = std::make_shared<ListText>();
    std::string piece;
    for (const auto& entry : entries) {
        if (!piece.empty() && piece.size() + entry.size() + 1 > kPieceSize) {
            list->m_pieces.push_back(std::make_shared<const std::string>(std::move(piece)));
            piece.clear();
        }
        piece += entry;
        piece += '*';
        list->m_size += entry.size() + 1;
    }
    if (!piece.empty())
        list->m_pieces.push_back(std::make_shared<const std::string>(std::move(piece)));
    return list;
}

std::shared_ptr<const ListText> ListText::with(const std::string& entry) const {
    auto list = std::make_shared<ListText>(*this);
    if (list->m_pieces.empty() || list->m_pieces.back()->size() + entry.size() + 1 > kPieceSize) {
        list->m_pieces.push_back(std::make_shared<const std::string>(entry + "*"));
    } else {
        std::string last = *list->m_pieces.back();
        last += entry;
        last += '*';
        list->m_pieces.back() = std::make_shared<const std::string>(std::move(last));
    }
    list->m_size += entry.size() + 1;
    return list;
}

std::shared_ptr<const ListText> ListText::without(const std::string& entry) const {
    const std::string item = entry + "*";
    for (std::size_t i = 0; i < m_pieces.size(); ++i) {
        const std::size_t at = findEntry(*m_pieces[i], item);
        if (at == std::string_view::npos)
            continue;
        auto list = std::make_shared<ListText>(*this);
        std::string rest = *m_pieces[i];
        rest.erase(at, item.size());
        if (rest.empty())
            list->m_pieces.erase(list->m_pieces.begin() + static_cast<std::ptrdiff_t>(i));
        else
            list->m_pieces[i] = std::make_shared<const std::string>(std::move(rest));
        list->m_size -= item.size();
        return list;
    }
    return nullptr;
}

std::string ListText::joined() const {
    std::string text;
    text.reserve(m_size);
    for (const auto& piece : m_pieces)
        text += *piece;
    return text;
}

} // namespace tamberly
