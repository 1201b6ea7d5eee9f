#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace tamberly {

/// Runs work on a thread of its own and waits for it at most limit. Returns its answer, or nullopt when it took
/// longer; the thread then finishes alone, so work must own everything it touches.
std::optional<std::string> runBounded(std::function<std::string()> work, std::chrono::milliseconds limit);

} // namespace tamberly
