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
    // A table copy begins; title is the table's title of its header line, UTF-8 ("Produto",
    // "Cota Negociação"). For progress shown outside the run log.
    virtual void tableStarted(std::string_view title) { (void)title; }
    // One row was posted into the mobile database (a quota's products included).
    virtual void rowCopied() {}
    // Between two long database calls of a table copy (a large sorted SELECT, then its count):
    // a chance to repaint that the once-per-row events do not give.
    virtual void betweenCalls() {}
};

} // namespace vela
