#pragma once

#include "platform/random_source.h"

#include <random>

namespace tamberly {

/// Uniform draws in [0, 1) from a Mersenne Twister that is reseeded from the system clock on request.
class ClockRandomSource final : public RandomSource {
public:
    ClockRandomSource();
    void reseedFromClock() override;
    double next() override;

private:
    std::mt19937_64 m_generator;
};

} // namespace tamberly
