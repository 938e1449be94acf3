#pragma once

#include <string_view>

namespace vela {

class StopToken;

// What a step needs from whoever runs it: the run log, the progress gauge and a chance to service
// pending window events. A stop is not thrown out of processEvents: the step looks at the stop
// token after it and leaves through its failure path.
class StepHost {
public:
    virtual ~StepHost() = default;
    // One line in Windows-1252.
    virtual void appendLog(std::string_view line) = 0;
    virtual void setGaugePosition(int position) = 0;
    virtual void setGaugeMaximum(int maximum) = 0;
    virtual void processEvents() = 0;
    // The stop the step looks at; none where nothing can stop it.
    virtual const StopToken* stopToken() const { return nullptr; }
};

} // namespace vela
