#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tamberly {

/// The published list text ("entry*entry*..."), held in pieces of at most a few dozen KiB so that adding an entry
/// copies one piece and a few pointers, never the whole list. Immutable: a change makes a new ListText that shares
/// the untouched pieces, and a request being answered keeps the one it started with.
class ListText {
public:
    using Piece = std::shared_ptr<const std::string>;

    /// The list of these entries, in order.
    static std::shared_ptr<const ListText> make(const std::vector<std::string>& entries);
    /// This list with the entry added at the end.
    std::shared_ptr<const ListText> with(const std::string& entry) const;
    /// This list without the entry (searched in memory), or null when it does not hold it.
    std::shared_ptr<const ListText> without(const std::string& entry) const;

    const std::vector<Piece>& pieces() const { return m_pieces; }
    std::size_t size() const { return m_size; }
    /// The whole text in one string.
    std::string joined() const;

private:
    std::vector<Piece> m_pieces;
    std::size_t m_size = 0;
};

} // namespace tamberly
