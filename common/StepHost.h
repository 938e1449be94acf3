#pragma once

#include <string_view>

namespace vela {

// What a step needs from the window: the run log, the progress gauge and the servicing of pending
// window events. An exception thrown by processEvents (a stop) ends the step through its failure
// path.
class StepHost {
public:
    virtual ~StepHost() = default;
    // One line in Windows-1252.
    virtual void appendLog(std::string_view line) = 0;
    virtual void setGaugePosition(int position) = 0;
    virtual void setGaugeMaximum(int maximum) = 0;
    virtual void processEvents() = 0;
};

} // namespace vela
