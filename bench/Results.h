// The report of a bench run: the table of each back office on the screen, and the figures of all of
// them in bench/results/latest.json.
#pragma once

#include "bench/Measure.h"

#include <vector>

namespace vela::bench {

void print(const Scale& sc);
void writeJson(const std::vector<Scale>& scales, const Options& o);
// a / b, or NaN when either is not a positive time.
double ratio(double a, double b);

} // namespace vela::bench
