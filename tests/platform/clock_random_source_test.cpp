#include "platform/clock_random_source.h"

#include <gtest/gtest.h>

#include <array>

namespace tamberly {
namespace {

TEST(ClockRandomSource, DrawsSpreadOverTheWholeHalfOpenRange) {
    ClockRandomSource random;
    std::array<int, 10> buckets{};
    for (int i = 0; i < 10000; ++i) {
        if (i % 100 == 0)
            random.reseedFromClock();
        const double r = random.next();
        ASSERT_GE(r, 0.0);
        ASSERT_LT(r, 1.0);
        ++buckets[static_cast<std::size_t>(r * 10)];
    }
    for (int count : buckets)
        EXPECT_GT(count, 500) << "draws are not uniform";
}

} // namespace
} // namespace tamberly
