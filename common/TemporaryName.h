#pragma once

#include <string>
#include <string_view>

namespace vela {

// The names a file takes beside the one it will replace until a rename puts it in place: the
// mobile database while it is built, the upload while it is stored and the published file while
// it steps aside. Whoever made such a name owns the file under it, as with git's index.lock.

// This process's part of those names, "<host>-<pid>-<random>": the host name (letters, digits and
// '_', at most 32 of them), the process id and 8 random hexadecimal digits, so that two runs never
// share one, not even on two machines, or in two containers where both have the same process id.
const std::string& processTag();

// base + "." + tag + suffix ("BANCODADOS.gdb.vm-4242-1a2b3c4d.part").
std::string temporaryName(std::string_view base, std::string_view tag, std::string_view suffix);

// Whether name is base + "." + a tag + suffix, the tag of this version or of earlier ones: the
// process id alone or with a try's number ("4242", "4242-2"), or processTag()'s form, with or
// without a try's number ("vm-4242-1a2b3c4d", "vm-4242-1a2b3c4d-2").
bool isTemporaryName(std::string_view name, std::string_view base, std::string_view suffix);

} // namespace vela
