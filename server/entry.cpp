#include "entry.h"

#include "core/proxy_entry.h"
#include "text/ascii_text.h"

namespace tamberly {
namespace {

EntryCheck refuse(std::string reason) {
    return {false, {}, std::move(reason)};
}

} // namespace

EntryCheck checkEntry(std::string_view raw) {
    if (raw.size() > kMaxEntryLength)
        return refuse("proxy entry is longer than 255 characters");
    const EntryParse parsed = parseProxyEntry(raw);
    if (!parsed.entry)
        return refuse(parsed.why);
    // The list holds plain host:port only: a scheme would be taken for an IPv6 address without its brackets.
    if (raw.find("://") != std::string_view::npos)
        return refuse("an IPv6 address must be put in brackets, as in [2001:db8::1]:8080");
    return {true, parsed.entry->hostPort(), {}};
}

bool isStoredForm(const std::string& entry) {
    const EntryCheck check = checkEntry(entry);
    // Rows stored while an IPv4-mapped IPv6 address was kept as written ("[::ffff:10.0.0.1]:80") stay on the list.
    return check.ok && (check.entry == entry || entry.rfind("[::ffff:", 0) == 0);
}

std::vector<ImportPiece> splitImportText(std::string_view text) {
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    if (text.substr(0, bom.size()) == bom)
        text.remove_prefix(bom.size());

    std::vector<ImportPiece> pieces;
    std::string current;
    int line = 1;
    int pieceLine = 1;
    auto finish = [&] {
        if (const std::string_view piece = trim(current, " \t"); !piece.empty())
            pieces.push_back({std::string(piece), pieceLine});
        current.clear();
        pieceLine = line;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '*' || c == '\r' || c == '\n') {
            // A CR LF pair ends one line, not two.
            if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')))
                ++line;
            finish();
        } else {
            if (current.empty())
                pieceLine = line;
            current += c;
        }
    }
    finish();
    return pieces;
}

} // namespace tamberly
