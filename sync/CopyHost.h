#pragma once

#include <string_view>

namespace vela {

// What a table copy needs from the window: the run log, the progress gauge and the servicing of
// pending window events.
class CopyHost {
public:
    virtual ~CopyHost() = default;
    // One line in Windows-1252.
    virtual void appendLog(std::string_view line) = 0;
    virtual void setGaugePosition(int position) = 0;
    virtual void setGaugeMaximum(int maximum) = 0;
    virtual void stepGauge() = 0;
    virtual void processEvents() = 0;
};

} // namespace vela
