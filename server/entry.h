#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tamberly {

/// Outcome of checking one submitted proxy entry.
struct EntryCheck {
    bool ok = false;
    /// The entry in its stored form: host name in lower case, IPv6 address in its short form, port without leading
    /// zeros. Empty when the entry was refused.
    std::string entry;
    /// One-line reason for a refusal, fit to send back to the client.
    std::string reason;
};

/// Longest entry accepted, counted in bytes as received.
inline constexpr std::size_t kMaxEntryLength = 255;

/// Checks that an entry is a plain proxy entry (host:port, by the program's one set of entry rules, no scheme), at
/// most kMaxEntryLength bytes, and gives its stored form. Only the form: whether the list takes it is
/// listPolicyFault's. Accepts any bytes, including NUL and invalid UTF-8.
EntryCheck checkEntry(std::string_view raw);

/// Why the list does not take an entry in stored form, or empty when it does. Never: the unspecified, broadcast,
/// multicast and reserved addresses. Unless allowPrivate: loopback, link-local, private and shared ranges and the
/// names localhost and *.localhost, which would make every user's check reach into the user's own machine or LAN.
std::string listPolicyFault(const std::string& entry, bool allowPrivate);

/// checkEntry, then listPolicyFault: what a submission must pass.
EntryCheck checkSubmission(std::string_view raw, bool allowPrivate);

/// Whether a stored row is an entry in a form the server writes, and so may be published: a row edited by hand into
/// anything else is left out of the list.
bool isStoredForm(const std::string& entry);

/// One piece of an import file, with the line it starts on (counted from 1) for messages.
struct ImportPiece {
    std::string text;
    int line = 0;
};

/// Splits an import file into entries: either a list text ("*" after each entry) or one entry per line, or a mix.
/// Blanks and tabs around a piece are dropped, and so are empty pieces.
std::vector<ImportPiece> splitImportText(std::string_view text);

} // namespace tamberly
