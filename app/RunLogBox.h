#pragma once

#include "app/RunLog.h"

#include <memory>

class QPlainTextEdit;

namespace vela {

// The run log's tail shown in a QPlainTextEdit: what installLogBox is given when the window's code
// is loaded.
std::unique_ptr<LogBox> makeLogBox(QPlainTextEdit* memo);

} // namespace vela
