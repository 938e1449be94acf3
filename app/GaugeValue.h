#pragma once

namespace vela {

// The gauge's numbers without the bar: what percentages on a terminal and in the title are made of
// when there is no window. The position is clamped to [minimum, maximum]; a maximum below the
// minimum is refused.
class GaugeValue {
public:
    int minValue() const { return min_; }
    int maxValue() const { return max_; }
    int progress() const { return pos_; }
    int percentDone() const;

    void setMaxValue(int value); // throws vela::Error "Value must be between %d and %d"
    void setProgress(int value);
    void addProgress(int delta);

private:
    int min_ = 0;
    int max_ = 100;
    int pos_ = 0;
};

} // namespace vela
