#pragma once

#include "http_server.h"
#include "list_service.h"
#include "proxy_verifier.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tamberly {

/// What one run of tamberly-listserver is asked to do.
struct CommandLine {
    enum class Command { Serve, Import, Export, Pending, Withdrawn, Approve, Remove, Help };
    Command command = Command::Serve;
    /// FILE of import, ENTRY of approve and remove.
    std::string argument;
    /// Empty for the default database.
    std::string database;
    /// Empty for the file beside an SQLite database.
    std::string reporterSecret;
    HttpOptions http;
    ServiceOptions service;
    /// The checks of --verify; publicUrl empty: not given.
    VerifyOptions verify;
};

/// Reads the arguments that follow the program name; false with a one-line message on bad usage.
bool parseCommandLine(const std::vector<std::string>& args, CommandLine& commandLine, std::string& error);

/// HOST:PORT or [IPV6]:PORT with a port from 0 to 65535.
bool parseListenAddress(std::string_view text, std::string& host, int& port);

/// A --report-window: seconds, or a number followed by s, m, h or d; false when it is none or out of range.
bool parseDuration(std::string_view text, std::int64_t& seconds);

/// The text of --help.
const char* usageText();

} // namespace tamberly
