#pragma once

namespace vela {

// --check: tries what a run would use without changing anything, anywhere. Reads and checks the
// settings, opens the back office (a read-only transaction) and reads the company, derives the
// remote folder, connects and logs in to the publishing server and lists that folder. One line on
// standard output for each thing checked, saying what was found. Writes no file: no run log, no
// lock, no mobile database, nothing on the server. Returns 0 when all is well, 2 when the settings
// are refused, 1 otherwise.
int runCheck(int argc, char** argv);

} // namespace vela
