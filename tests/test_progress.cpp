// The gauge as painted and the run log's text, offscreen.
#include "app/Gauge.h"
#include "app/RunLog.h"
#include "tests/support/WidgetsApp.h"

#include <QApplication>
#include <QEvent>
#include <QTest>
#include <gtest/gtest.h>

using namespace vela;

namespace {

QApplication& app() {
    return test::widgetsApp();
}

// The percentage of the gauge's position each time it is painted.
class PaintedPercent : public QObject {
public:
    explicit PaintedPercent(Gauge& g) : g_(g) { g.installEventFilter(this); }
    int last = -1;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            last = g_.percentDone();
        return false;
    }

private:
    Gauge& g_;
};

} // namespace

TEST(Progress, TheGaugeEndsPaintedAtItsLastPercentage) {
    app();
    Gauge g;
    g.resize(465, 19);
    g.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
    PaintedPercent painted(g);
    // A small table: the previous one's 100 % is asked for, the reset to 0 is what gets painted,
    // and the few rows of this one reach 100 % again inside the same 40 ms.
    g.setProgress(100);
    g.setProgress(0);
    g.setMaxValue(3);
    QCoreApplication::processEvents();
    for (int i = 0; i < 3; ++i)
        g.addProgress(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return painted.last == 100; }, 2000)) << "painted " << painted.last << " %";
}

TEST(Progress, RunLogTextSplitsIntoLinesWithOrWithoutItsLastLineEnd) {
    EXPECT_EQ(splitLines("a\r\n\r\nb\r\n"), (QStringList{"a", "", "b"}));
    EXPECT_EQ(splitLines("a\r\nb\xe7"), (QStringList{"a", "b\u00e7"}));
    EXPECT_EQ(splitLines(""), QStringList{});
}
