#include "app/GaugeValue.h"

#include "common/Error.h"

#include <climits>
#include <string>

namespace vela {

int GaugeValue::percentDone() const {
    if (max_ == min_)
        return 0;
    return static_cast<int>((static_cast<long long>(pos_) - min_) * 100 / (static_cast<long long>(max_) - min_));
}

void GaugeValue::setMaxValue(int value) {
    if (value < min_)
        throw Error("Value must be between " + std::to_string(min_ + 1) + " and " + std::to_string(INT_MAX));
    max_ = value;
    if (pos_ > max_)
        pos_ = max_;
}

void GaugeValue::setProgress(int value) {
    pos_ = value < min_ ? min_ : (value > max_ ? max_ : value);
}

void GaugeValue::addProgress(int delta) {
    long long v = static_cast<long long>(pos_) + delta;
    setProgress(v > INT_MAX ? INT_MAX : static_cast<int>(v));
}

} // namespace vela
