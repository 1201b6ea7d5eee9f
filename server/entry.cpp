#include "entry.h"

#include "core/proxy_entry.h"
#include "ip_address.h"
#include "text/ascii_text.h"

#include <array>
#include <cstdint>

namespace tamberly {
namespace {

EntryCheck refuse(std::string reason) {
    return {false, {}, std::move(reason)};
}

} // namespace

EntryCheck checkEntry(std::string_view raw) {
    if (raw.size() > kMaxEntryLength)
        return refuse("proxy entry is longer than 255 characters");
    // The list holds plain host:port only; these two would otherwise be told as faults of the host.
    if (const auto scheme = raw.find("://"); scheme != std::string_view::npos)
        return refuse("a proxy entry is host:port without a scheme such as http:// or socks5://");
    if (raw.find('*') != std::string_view::npos)
        return refuse("a proxy entry cannot hold \"*\", which ends an entry in the list");
    const EntryParse parsed = parseProxyEntry(raw);
    if (!parsed.entry)
        return refuse(parsed.why);
    return {true, parsed.entry->hostPort(), {}};
}

std::string listPolicyFault(const std::string& entry, bool allowPrivate) {
    const HostPortSplit split = splitHostPort(entry);
    const std::string host(split.host);
    std::string local;
    if (const auto address = parseIpAddress(host)) {
        const auto& b = address->bytes;
        if (address->v4) {
            if (b[0] == 0)
                return "an unspecified address (0.0.0.0/8) cannot be a proxy";
            if (b[0] == 255 && b[1] == 255 && b[2] == 255 && b[3] == 255)
                return "a broadcast address cannot be a proxy";
            if (b[0] >= 224 && b[0] <= 239)
                return "a multicast address cannot be a proxy";
            if (b[0] >= 240)
                return "a reserved address (240.0.0.0/4) cannot be a proxy";
            if (b[0] == 127)
                local = "a loopback address";
            else if (b[0] == 169 && b[1] == 254)
                local = "a link-local address";
            else if (b[0] == 10 || (b[0] == 172 && (b[1] & 0xf0) == 16) || (b[0] == 192 && b[1] == 168))
                local = "a private address";
            else if (b[0] == 100 && (b[1] & 0xc0) == 64)
                local = "a shared address (100.64.0.0/10)";
        } else {
            static const std::array<std::uint8_t, 16> unspecified{};
            std::array<std::uint8_t, 16> loopback{};
            loopback[15] = 1;
            if (b == unspecified)
                return "an unspecified address (::) cannot be a proxy";
            if (b[0] == 0xff)
                return "a multicast address cannot be a proxy";
            if (b == loopback)
                local = "a loopback address";
            else if (b[0] == 0xfe && (b[1] & 0xc0) == 0x80)
                local = "a link-local address";
            else if ((b[0] & 0xfe) == 0xfc)
                local = "a private address (fc00::/7)";
        }
    } else if (host == "localhost" || (host.size() > 10 && host.ends_with(".localhost"))) {
        local = "localhost";
    }
    if (local.empty() || allowPrivate)
        return {};
    return local + " points into the user's own machine or network, and this list serves the public";
}

EntryCheck checkSubmission(std::string_view raw, bool allowPrivate) {
    EntryCheck check = checkEntry(raw);
    if (!check.ok)
        return check;
    if (std::string fault = listPolicyFault(check.entry, allowPrivate); !fault.empty())
        return refuse(std::move(fault));
    return check;
}

bool isStoredForm(const std::string& entry) {
    const EntryCheck check = checkEntry(entry);
    return check.ok && check.entry == entry;
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
