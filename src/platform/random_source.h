#pragma once

namespace tamberly {

/// A pseudo-random generator of uniform numbers in [0, 1).
class RandomSource {
public:
    virtual ~RandomSource() = default;
    /// Reseeds from the system clock.
    virtual void reseedFromClock() = 0;
    /// Draws r with 0 <= r < 1.
    virtual double next() = 0;
};

} // namespace tamberly
