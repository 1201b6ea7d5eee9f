#pragma once

#include "platform/random_source.h"

#include <QRandomGenerator>

namespace tamberly {

/// Uniform draws from a generator that is reseeded from the clock on request.
class QtRandomSource final : public RandomSource {
public:
    void reseedFromClock() override;
    double next() override { return m_generator.generateDouble(); }

private:
    QRandomGenerator m_generator;
};

} // namespace tamberly
