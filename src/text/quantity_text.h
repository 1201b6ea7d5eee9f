#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tamberly {

/// "1 second", "30 seconds", or "250 ms" when not whole seconds: for failure messages.
std::string durationText(std::chrono::milliseconds duration);

/// "8 MiB", "64 KiB", or "1000 bytes" when not a whole number of either: for failure messages.
std::string sizeText(std::int64_t bytes);

} // namespace tamberly
