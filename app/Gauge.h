#pragma once

#include <QElapsedTimer>
#include <QWidget>

namespace vela {

// Horizontal bar with its percentage written on it. The position is clamped to
// [minimum, maximum]; a maximum below the minimum is refused.
class Gauge : public QWidget {
public:
    explicit Gauge(QWidget* parent = nullptr);

    int minValue() const { return min_; }
    int maxValue() const { return max_; }
    int progress() const { return pos_; }
    int percentDone() const;

    void setMaxValue(int value); // throws vela::Error "Value must be between %d and %d"
    void setProgress(int value);
    void addProgress(int delta);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void changed();
    void askRepaint();

    static constexpr int kRepaintInterval = 40; // ms
    int min_ = 0;
    int max_ = 100;
    int pos_ = 0;
    int paintedPercent_ = -1;     // what the last paint drew; -1 before the first one
    bool repaintAsked_ = false;   // an update() not painted yet: it will draw the value of then
    bool repaintPending_ = false; // a delayed check is on its way
    QElapsedTimer sinceRepaint_;
};

} // namespace vela
