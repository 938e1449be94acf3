#pragma once

#include "publish/UploadStep.h"
#include "sync/CopyHost.h"

#include <cstdint>

#include <functional>
#include <string>
#include <vector>

namespace vela::test {

// A window stand-in for in-process table copies and uploads: records the log and the gauge.
class RecordingHost : public CopyHost, public UploadHost {
public:
    std::vector<std::string> lines;
    int position = 0;
    int maximum = 100;
    std::vector<std::pair<int, int>> maxima; // (maximum, position) at each setGaugeMaximum
    int events = 0;
    std::function<void()> onEvents;
    std::vector<std::pair<std::int64_t, std::int64_t>> uploaded; // (bytes so far, total) per event

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
    void uploadProgress(std::int64_t bytesSoFar, std::int64_t total) override {
        uploaded.emplace_back(bytesSoFar, total);
    }
};

} // namespace vela::test
