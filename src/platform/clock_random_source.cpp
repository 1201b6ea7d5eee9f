#include "platform/clock_random_source.h"

#include <chrono>
#include <cmath>

namespace tamberly {

ClockRandomSource::ClockRandomSource() {
    reseedFromClock();
}

void ClockRandomSource::reseedFromClock() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    m_generator.seed(static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
}

double ClockRandomSource::next() {
    const double r = std::generate_canonical<double, 53>(m_generator);
    // generate_canonical may round up to exactly 1 on some library versions; a draw must stay below 1.
    return r < 1.0 ? r : std::nextafter(1.0, 0.0);
}

} // namespace tamberly
