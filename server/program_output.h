#pragma once

#include <string>

namespace tamberly {

inline constexpr const char* kProgram = "tamberly-listserver";
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

/// Writes a whole line to standard error in one write call, so lines from many threads never interleave.
void logLine(const std::string& line);

/// "PROGRAM: message" on standard error; returns the failure exit code.
int failure(const std::string& message);

/// The message and a pointer to --help on standard error; returns the usage exit code.
int usageError(const std::string& message);

/// HOST:PORT, with an IPv6 host in brackets.
std::string displayAddress(const std::string& host, int port);

} // namespace tamberly
