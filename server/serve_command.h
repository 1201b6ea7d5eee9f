#pragma once

namespace tamberly {

struct CommandLine;
class ProxyStore;
class ReporterSecret;

/// Answers requests until SIGINT or SIGTERM; the exit code of serve.
int serveList(ProxyStore& store, const CommandLine& commandLine, ReporterSecret secret);

} // namespace tamberly
