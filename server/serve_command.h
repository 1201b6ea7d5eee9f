#pragma once

namespace tamberly {

struct CommandLine;
class ProxyStore;
class ReporterSecret;

/// Answers requests until SIGINT or SIGTERM; the exit code of serve. The page is read through pageStore, a second
/// connection to the same database.
int serveList(ProxyStore& store, ProxyStore& pageStore, const CommandLine& commandLine, ReporterSecret secret);

} // namespace tamberly
