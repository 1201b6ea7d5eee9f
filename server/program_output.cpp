#include "program_output.h"

#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace tamberly {
namespace {

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const auto n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

// One write call per line, so lines from many threads never interleave.
void logLine(const std::string& line) {
    writeAll(STDERR_FILENO, line);
}

std::string displayAddress(const std::string& host, int port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

int usageError(const std::string& message) {
    std::cerr << kProgram << ": " << message << "\nTry '" << kProgram << " --help'.\n";
    return kExitUsage;
}

int failure(const std::string& message) {
    std::cerr << kProgram << ": " << message << "\n";
    return kExitFailure;
}

} // namespace tamberly
