#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tamberly {

/// What differs between the programs Tamberly starts.
struct SpawnOptions {
    /// Working folder of the child; empty keeps ours.
    std::string folder;
    /// A descriptor that becomes the child's standard output; -1 keeps ours.
    int output = -1;
    /// Standard error to /dev/null instead of ours.
    bool quietErrors = false;
    /// A session of its own (the child outlives Tamberly and its terminal) rather than only a process group.
    bool ownSession = false;
    /// The child's environment; null passes ours.
    char* const* environment = nullptr;
};

/// Starts program (searched on PATH when it holds no slash) with args as its argument list (args[0] included),
/// never through a shell. The child starts clean: standard input from /dev/null, none of our other descriptors,
/// an empty signal mask, default signal actions, and a process group of its own, so that it can be stopped with
/// whatever it starts. Returns 0 with pid set, or the errno of the failed start. The caller collects the child.
int spawnProcess(const std::string& program, const std::vector<std::string>& args, const SpawnOptions& options,
                 pid_t& pid);

} // namespace tamberly
