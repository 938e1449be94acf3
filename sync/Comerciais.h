#pragma once

#include "db/Firebird.h"

#include <chrono>

namespace vela {

// The date a settings row is stamped with: the calendar day of a local date-time, the time of day
// dropped.
ISC_DATE localDate(std::chrono::local_seconds when);

// One reading of the local clock.
std::chrono::local_seconds localNow();

} // namespace vela
