#include "text/quantity_text.h"

namespace tamberly {

std::string durationText(std::chrono::milliseconds duration) {
    const auto ms = duration.count();
    if (ms % 1000 != 0)
        return std::to_string(ms) + " ms";
    return std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds");
}

std::string sizeText(std::int64_t bytes) {
    constexpr std::int64_t kib = 1024;
    if (bytes > 0 && bytes % (kib * kib) == 0)
        return std::to_string(bytes / (kib * kib)) + " MiB";
    if (bytes > 0 && bytes % kib == 0)
        return std::to_string(bytes / kib) + " KiB";
    return std::to_string(bytes) + " bytes";
}

} // namespace tamberly
