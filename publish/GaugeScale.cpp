#include "publish/GaugeScale.h"

#include <algorithm>
#include <limits>

namespace vela {

namespace {
constexpr std::int64_t kGaugeLimit = std::numeric_limits<int>::max();
}

GaugeScale::GaugeScale(std::int64_t fileSize) : fileSize_(std::max<std::int64_t>(fileSize, 0)) {
    while ((fileSize_ >> shift_) > kGaugeLimit)
        shift_ += 10;
}

int GaugeScale::maximum() const {
    return static_cast<int>(fileSize_ >> shift_);
}

int GaugeScale::position(std::int64_t bytesSoFar) const {
    return static_cast<int>(std::clamp<std::int64_t>(bytesSoFar, 0, fileSize_) >> shift_);
}

} // namespace vela
