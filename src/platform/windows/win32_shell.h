#pragma once

#include "platform/shell.h"

namespace tamberly {

/// The shell's own open request (ShellExecuteW) with its own result codes.
class Win32Shell final : public Shell {
public:
    std::uintptr_t GetDesktopWindow() override;
    /// Empty verb, parameters or folder are passed as none.
    long ShellExecute(std::uintptr_t owner, const std::string& verb, const std::string& file,
                      const std::string& parameters, const std::string& directory, int showCommand) override;
};

} // namespace tamberly
