#pragma once

#include "sync/CopyHost.h"

#include <functional>
#include <string>
#include <vector>

namespace vela::test {

// A window stand-in for in-process table copies: records the log and the gauge.
class RecordingHost : public CopyHost {
public:
    std::vector<std::string> lines;
    int position = 0;
    int maximum = 100;
    std::vector<std::pair<int, int>> maxima; // (maximum, position) at each setGaugeMaximum
    int events = 0;
    std::function<void()> onEvents;

    void appendLog(std::string_view line) override { lines.emplace_back(line); }
    void setGaugePosition(int p) override { position = p < 0 ? 0 : (p > maximum ? maximum : p); }
    void setGaugeMaximum(int m) override {
        maximum = m;
        if (position > m)
            position = m;
        maxima.emplace_back(maximum, position);
    }
    void stepGauge() override {
        if (position < maximum)
            ++position;
    }
    void processEvents() override {
        ++events;
        if (onEvents)
            onEvents();
    }
};

} // namespace vela::test
