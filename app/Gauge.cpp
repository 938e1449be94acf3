#include "app/Gauge.h"

#include <QPainter>
#include <QTimer>

namespace vela {

Gauge::Gauge(QWidget* parent) : QWidget(parent) {}

void Gauge::setMaxValue(int value) {
    value_.setMaxValue(value);
    changed();
}

void Gauge::setProgress(int value) {
    value_.setProgress(value);
    changed();
}

void Gauge::addProgress(int delta) {
    value_.addProgress(delta);
    changed();
}

void Gauge::changed() {
    // Repaint only when what is shown changes, and at most every 40 ms: a gauge reset every few
    // rows (the products of each quota) would otherwise be painted on every row, at several times
    // the cost of copying the row. A change inside the 40 ms is shown when they are over. What was
    // drawn is noted by the paint itself: a repaint asked for at one value may be painted at a
    // later one, and only the painted value says whether the bar shows the position.
    if (repaintAsked_ || repaintPending_ || percentDone() == paintedPercent_)
        return;
    const qint64 since = sinceRepaint_.isValid() ? sinceRepaint_.elapsed() : kRepaintInterval;
    if (since >= kRepaintInterval) {
        askRepaint();
        return;
    }
    repaintPending_ = true;
    QTimer::singleShot(kRepaintInterval - static_cast<int>(since), this, [this] {
        repaintPending_ = false;
        if (!repaintAsked_ && percentDone() != paintedPercent_)
            askRepaint();
    });
}

void Gauge::askRepaint() {
    sinceRepaint_.restart();
    // A hidden gauge gets no paint for this update(); showing it paints it anew.
    repaintAsked_ = isVisible();
    update();
}

void Gauge::paintEvent(QPaintEvent*) {
    repaintAsked_ = false;
    paintedPercent_ = percentDone();
    QPainter painter(this);
    QRect r = rect().adjusted(0, 0, -1, -1);
    painter.fillRect(r, palette().base());
    int filled = static_cast<int>(static_cast<long long>(r.width()) * paintedPercent_ / 100);
    painter.fillRect(QRect(r.left(), r.top(), filled, r.height()), palette().highlight());
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(r);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(r, Qt::AlignCenter, QString::number(paintedPercent_) + QLatin1Char('%'));
}

} // namespace vela
