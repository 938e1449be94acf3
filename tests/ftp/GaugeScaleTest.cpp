#include "publish/GaugeScale.h"

#include <gtest/gtest.h>

namespace vela {
namespace {

constexpr std::int64_t kGiB = 1024LL * 1024 * 1024;

TEST(GaugeScale, CountsBytesBelowTwoGiB) {
    const GaugeScale scale(2 * kGiB - 1);
    EXPECT_EQ(scale.maximum(), 2147483647);
    EXPECT_EQ(scale.position(12345), 12345);
}

TEST(GaugeScale, CountsKiBFromTwoGiBOn) {
    const GaugeScale scale(5 * kGiB);
    EXPECT_EQ(scale.maximum(), 5 * 1024 * 1024);
    EXPECT_EQ(scale.position(kGiB), 1024 * 1024);
    EXPECT_EQ(scale.position(5 * kGiB), scale.maximum());
}

TEST(GaugeScale, ClampsToTheRange) {
    const GaugeScale scale(1000);
    EXPECT_EQ(scale.position(-1), 0);
    EXPECT_EQ(scale.position(5000), 1000);
}

TEST(GaugeScale, AnEmptyFileStaysAtZero) {
    const GaugeScale scale(0);
    EXPECT_EQ(scale.maximum(), 0);
    EXPECT_EQ(scale.position(0), 0);
}

TEST(GaugeScale, FitsEvenHugeSizes) {
    const GaugeScale scale(std::int64_t{1} << 62);
    EXPECT_GT(scale.maximum(), 0);
    EXPECT_EQ(scale.position(std::int64_t{1} << 62), scale.maximum());
}

} // namespace
} // namespace vela
