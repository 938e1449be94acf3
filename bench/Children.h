#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace vela::bench {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// What a measuring child process reports to the driver, one fact per line:
//   k <key> <value>            a figure or a text without line breaks
//   t <copy> <seconds>         time of one table copy (sincronizaX), in run order
//   m <TABLE> <rows>           rows of a mobile table after the run
class Report {
public:
    void set(const std::string& key, const std::string& value) { values[key] = value; }
    void set(const std::string& key, double value);
    void table(const std::string& copy, double secs) { tables.emplace_back(copy, secs); }

    std::map<std::string, std::string> values;
    std::vector<std::pair<std::string, double>> tables;
    std::map<std::string, long long> mobileRows;

    double number(const std::string& key, double fallback = 0) const;
    std::string text(const std::string& key) const;
    bool has(const std::string& key) const { return values.count(key) != 0; }

    void write(const std::string& path) const;
    static Report read(const std::string& path);
};

struct ChildOptions {
    std::string source;              // back-office database
    std::string templ;               // the empty template
    std::string folder;              // a folder of the child's own
    std::vector<std::string> copies; // sincronizaX names to include (raw, server); empty: all
    int ftpPort = 0;                 // window: upload to 127.0.0.1 at this port after the run
    bool forcedWritesOff = false;    // window, engine, raw: the mobile file without forced writes
    std::string report;              // where the report goes
};

int windowMain(const ChildOptions& o);
int engineMain(const ChildOptions& o);
int rawMain(const ChildOptions& o);
int serverCopyMain(const ChildOptions& o);

// Rows of each of the given mobile tables.
std::map<std::string, long long> countRows(const std::string& database, const std::vector<std::string>& tables);
// Every mobile table the catalogue names.
std::vector<std::string> mobileTables();
// Peak and current resident memory of this process, in KiB (VmHWM, VmRSS).
std::pair<long, long> memoryKiB();

} // namespace vela::bench
