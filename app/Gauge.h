#pragma once

#include "app/GaugeValue.h"

#include <QElapsedTimer>
#include <QWidget>

namespace vela {

// Horizontal bar with its percentage written on it. The position is clamped to
// [minimum, maximum]; a maximum below the minimum is refused.
class Gauge : public QWidget {
public:
    explicit Gauge(QWidget* parent = nullptr);

    int minValue() const { return value_.minValue(); }
    int maxValue() const { return value_.maxValue(); }
    int progress() const { return value_.progress(); }
    int percentDone() const { return value_.percentDone(); }
    const GaugeValue& value() const { return value_; }

    void setMaxValue(int value); // throws vela::Error "Value must be between %d and %d"
    void setProgress(int value);
    void addProgress(int delta);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void changed();
    void askRepaint();

    static constexpr int kRepaintInterval = 40; // ms
    GaugeValue value_;
    int paintedPercent_ = -1;     // what the last paint drew; -1 before the first one
    bool repaintAsked_ = false;   // an update() not painted yet: it will draw the value of then
    bool repaintPending_ = false; // a delayed check is on its way
    QElapsedTimer sinceRepaint_;
};

} // namespace vela
