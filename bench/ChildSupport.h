// What the measuring children share, with each other and with the driver.
#pragma once

#include "bench/Children.h"
#include "db/Connection.h"
#include "db/Transaction.h"

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vela::bench {

// Rows of each of the given mobile tables.
std::map<std::string, long long> countRows(const std::string& database, const std::vector<std::string>& tables);
// Every mobile table the catalogue names.
std::vector<std::string> mobileTables();
// Peak and current resident memory of this process, in KiB (VmHWM, VmRSS).
std::pair<long, long> memoryKiB();

// A fresh copy of the template at `target`.
void copyTemplate(const std::string& templ, const std::string& target);
// Whether the child measures this table copy.
bool included(const ChildOptions& o, std::string_view name);
// User and system time of the whole process, the embedded engine's threads included.
double cpuSeconds();
// The template copy, with the disk writes of the database left to the system: what the run would
// cost if it switched forced writes off while it fills the file; with pagesFull also no room kept
// on its data pages for later row versions (gfix -use full), as step 1 fills the file.
void forcedWritesOff(const std::string& database, bool pagesFull = false);

// The column names of a SELECT, prepared on the source.
std::vector<std::string> selectColumns(Connection& source, std::string_view select);
std::string join(const std::vector<std::string>& items, const std::string& prefix = {});

// A child's last words: its peak memory (unless already noted), the rows the mobile database ended
// with, the report written, the engine shut down. Returns the child's exit status.
int finishChild(Report& rep, const std::string& mobilePath, const ChildOptions& o);

// The mobile database of the raw loop and the server-side copy: one read-committed transaction.
struct Mobile {
    explicit Mobile(const std::string& path);
    Connection connection;
    Transaction transaction;
};

} // namespace vela::bench
