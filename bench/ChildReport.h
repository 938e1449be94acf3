// The clock the bench measures with, and the report through which a measuring child tells the driver
// what it measured.
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

} // namespace vela::bench
