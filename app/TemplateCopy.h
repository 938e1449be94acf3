#pragma once

#include <QString>

namespace vela {

// Puts a copy of source at target without ever writing into the file that lies there: the copy
// goes to a new file in target's folder, reaches the disk, and is then renamed over target. A
// process that still has the old file open keeps it whole, and a crash midway leaves either the
// old file or the new one. On failure nothing new is left behind and false comes back.
bool replaceWithCopy(const QString& source, const QString& target);

} // namespace vela
