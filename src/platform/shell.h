#pragma once

#include <cstdint>
#include <string>

namespace tamberly {

/// The shell's open request: starts a program without waiting for it.
class Shell {
public:
    virtual ~Shell() = default;
    /// Handle of the desktop window, the owner of launches.
    virtual std::uintptr_t GetDesktopWindow() = 0;
    /// Returns a value above 32 when the program started, otherwise a failure code of the shell
    /// (2 file not found, 3 path not found, 5 access denied, 8 out of memory, 11 bad format, 26 sharing violation, ...).
    virtual long ShellExecute(std::uintptr_t owner, const std::string& verb, const std::string& file,
                              const std::string& parameters, const std::string& directory, int showCommand) = 0;
};

} // namespace tamberly
