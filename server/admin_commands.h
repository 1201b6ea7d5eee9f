#pragma once

#include <string>

namespace tamberly {

class ProxyStore;
struct ServiceOptions;

// The one-shot commands; each returns the program's exit code.

/// Publishes the entries of FILE ("-" reads standard input); nothing when one is refused.
int importFile(ProxyStore& store, const std::string& file, bool allowPrivateEntries);
/// Writes the published list text to standard output.
int exportList(ProxyStore& store, const ServiceOptions& options);
/// Lists the entries that wait for approval, one a line.
int listPending(ProxyStore& store);
/// Lists the withdrawn entries, one a line, then the published rows the list leaves out, each with the reason.
int listWithdrawn(ProxyStore& store, bool allowPrivateEntries);
/// Publishes a waiting (or withdrawn) entry.
int approveEntry(ProxyStore& store, const std::string& raw);
/// Deletes an entry, whatever its state.
int removeEntry(ProxyStore& store, const std::string& raw);

} // namespace tamberly
