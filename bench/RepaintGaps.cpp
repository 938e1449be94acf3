#include "bench/RepaintGaps.h"

#include <algorithm>
#include <cstdio>

namespace vela::bench {

namespace {

// A call of the database layer (a statement, a transaction, a connection).
bool isDatabaseCall(const std::string& call) {
    for (const char* c : {"vela::Query::", "vela::Statement::", "vela::Command::", "vela::Transaction::",
                          "vela::Connection::", "vela::InsertCursor::", "vela::TDMSistemaCadastro::"})
        if (call.rfind(c, 0) == 0)
            return true;
    return false;
}

} // namespace

void reportRepaintGaps(Report& rep, const PaintClock& paints, const StallSampler& sampler,
                       const std::vector<CopyMark>& marks, Clock::time_point t0, Clock::time_point t1) {
    double worst = 0;
    std::string where;
    long long stalls = 0;
    double stalled = 0;
    Clock::time_point prev = t0;
    // Each gap over 250 ms is named by the calls the window's thread was found in during it; a
    // gap where every sample shows the same database call is inside that one call.
    std::string longGaps;
    long long longGapCount = 0, longGapsElsewhere = 0;
    auto consider = [&](Clock::time_point at) {
        double gap = seconds(prev, at);
        if (gap > 0.1) {
            ++stalls;
            stalled += gap;
        }
        if (gap > 0.25) {
            ++longGapCount;
            std::vector<std::string> calls;
            for (const auto& sample : sampler.samples())
                if (sample.at > prev && sample.at < at)
                    calls.push_back(StallSampler::call(sample));
            bool single = !calls.empty() && std::all_of(calls.begin(), calls.end(), [&](const std::string& c) {
                return c == calls.front() && isDatabaseCall(c);
            });
            if (!single)
                ++longGapsElsewhere;
            std::string table = "setup";
            for (const auto& m : marks)
                if (m.at <= prev)
                    table = std::string(m.copy->name);
            char head[64];
            std::snprintf(head, sizeof head, "%.0f ms in %s: ", gap * 1000.0, table.c_str());
            longGaps += (longGaps.empty() ? "" : "; ") + std::string(head);
            if (single)
                longGaps += calls.front();
            else {
                // The calls in the order met, each with its samples (50 ms apart).
                longGaps += "not one database call:";
                for (size_t i = 0; i < calls.size();) {
                    size_t j = i;
                    while (j < calls.size() && calls[j] == calls[i])
                        ++j;
                    longGaps += " [" + calls[i] + " x" + std::to_string(j - i) + "]";
                    i = j;
                }
            }
        }
        if (gap > worst) {
            worst = gap;
            where = "setup";
            for (const auto& m : marks)
                if (m.at <= prev) {
                    char offset[32];
                    std::snprintf(offset, sizeof offset, " at +%.2f s", seconds(m.at, prev));
                    where = std::string(m.copy->name) + offset;
                }
        }
        prev = at;
    };
    long long paintsDuring = 0;
    for (auto p : paints.paints)
        if (p >= t0 && p <= t1) {
            consider(p);
            ++paintsDuring;
        }
    consider(t1);
    rep.set("paints", static_cast<double>(paintsDuring));
    rep.set("max_paint_gap_ms", worst * 1000.0);
    rep.set("max_paint_gap_in", where);
    rep.set("paint_gaps_over_100ms", static_cast<double>(stalls));
    rep.set("paint_gaps_over_100ms_seconds", stalled);
    rep.set("paint_gaps_over_250ms", static_cast<double>(longGapCount));
    rep.set("paint_gaps_over_250ms_not_one_database_call", static_cast<double>(longGapsElsewhere));
    rep.set("paint_gaps_over_250ms_calls", longGaps);
}

} // namespace vela::bench
