#include "bench/ChildReport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace vela::bench {

void Report::set(const std::string& key, double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    values[key] = text;
}

double Report::number(const std::string& key, double fallback) const {
    auto it = values.find(key);
    return it == values.end() ? fallback : std::strtod(it->second.c_str(), nullptr);
}

std::string Report::text(const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
}

void Report::write(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const auto& [k, v] : values) {
        std::string flat = v;
        for (char& c : flat)
            if (c == '\n' || c == '\r')
                c = ' ';
        out << "k " << k << ' ' << flat << '\n';
    }
    for (const auto& [name, secs] : tables)
        out << "t " << name << ' ' << secs << '\n';
    for (const auto& [table, rows] : mobileRows)
        out << "m " << table << ' ' << rows << '\n';
}

Report Report::read(const std::string& path) {
    Report r;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 3)
            continue;
        std::string rest = line.substr(2);
        size_t sp = rest.find(' ');
        std::string key = rest.substr(0, sp);
        std::string value = sp == std::string::npos ? std::string() : rest.substr(sp + 1);
        if (line[0] == 'k')
            r.values[key] = value;
        else if (line[0] == 't')
            r.tables.emplace_back(key, std::strtod(value.c_str(), nullptr));
        else if (line[0] == 'm')
            r.mobileRows[key] = std::atoll(value.c_str());
    }
    return r;
}
} // namespace vela::bench
