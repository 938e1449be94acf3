#include "app/Gauge.h"

#include "db/Error.h"

#include <QPainter>
#include <climits>

namespace vela {

Gauge::Gauge(QWidget *parent) : QWidget(parent) {}

int Gauge::percentDone() const {
    if (max_ == min_)
        return 0;
    return static_cast<int>((static_cast<long long>(pos_) - min_) * 100 /
                            (static_cast<long long>(max_) - min_));
}

void Gauge::setMaxValue(int value) {
    if (value < min_)
        throw Error("Value must be between " + std::to_string(min_ + 1) + " and " + std::to_string(INT_MAX));
    max_ = value;
    if (pos_ > max_)
        pos_ = max_;
    changed();
}

void Gauge::setProgress(int value) {
    pos_ = value < min_ ? min_ : (value > max_ ? max_ : value);
    changed();
}

void Gauge::addProgress(int delta) {
    long long v = static_cast<long long>(pos_) + delta;
    setProgress(v > INT_MAX ? INT_MAX : static_cast<int>(v));
}

void Gauge::changed() {
    // Repaint only when what is shown changes: a gauge stepped once per row stays cheap.
    int p = percentDone();
    if (p != shownPercent_) {
        shownPercent_ = p;
        update();
    }
}

void Gauge::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    QRect r = rect().adjusted(0, 0, -1, -1);
    painter.fillRect(r, palette().base());
    int filled = static_cast<int>(static_cast<long long>(r.width()) * percentDone() / 100);
    painter.fillRect(QRect(r.left(), r.top(), filled, r.height()), palette().highlight());
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(r);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(r, Qt::AlignCenter, QString::number(percentDone()) + QLatin1Char('%'));
}

} // namespace vela
