#pragma once

#include "platform/windows/program_folder.h"

#include <string>

namespace tamberly::test {

/// The helper program built beside the test program (see windows_helper.cpp).
inline std::string windowsHelper() {
    return programFolder() + "\\tamberly_windows_helper.exe";
}

} // namespace tamberly::test
