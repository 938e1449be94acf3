#pragma once

#include "common/StepHost.h"

#include <cstdint>
#include <string_view>

namespace vela {

// What a table copy needs from the window besides the run log, the gauge and the events: a gauge
// step per row, and the progress shown outside the run log.
class CopyHost : public StepHost {
public:
    virtual void stepGauge() = 0;
    // A table copy begins; title is the table's title of its header line, UTF-8 ("Produto",
    // "Cota Negociação"). For progress shown outside the run log.
    virtual void tableStarted(std::string_view title) { (void)title; }
    // One row was posted into the mobile database (a quota's products included).
    virtual void rowCopied() {}
    // A row of a child copy (a quota's product) was posted, before its rowCopied: rows of the whole
    // child table so far, of the total its parent counted. For progress that spans the child table
    // rather than one parent's rows.
    virtual void childRowCopied(std::int64_t rows, std::int64_t total) {
        (void)rows;
        (void)total;
    }
    // Between two long database calls of a table copy (a large sorted SELECT, then its count):
    // a chance to repaint that the once-per-row events do not give.
    virtual void betweenCalls() {}
    // Whether anything shows the gauge and the child progress that the count queries size. Where
    // nothing does (an unattended run with no terminal), a copy skips its counts: on a large back
    // office they are about 8 % of the run's work.
    virtual bool showsCounts() const { return true; }
};

} // namespace vela
