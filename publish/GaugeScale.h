#pragma once

#include <cstdint>

namespace vela {

// The progress gauge holds signed 32-bit numbers. A file below 2 GiB is counted in bytes; a larger
// one in KiB (and in ever coarser steps of 1024 past 2 TiB), so the maximum fits and the
// percentage on the bar stays right. Only the gauge is scaled: the run log keeps byte counts.
class GaugeScale {
public:
    explicit GaugeScale(std::int64_t fileSize);

    int maximum() const;
    // The position for a byte count, within 0..maximum().
    int position(std::int64_t bytesSoFar) const;

private:
    std::int64_t fileSize_;
    int shift_ = 0;
};

} // namespace vela
