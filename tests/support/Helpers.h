#pragma once

#include "db/ModuloDadosCadastro.h"
#include "publish/UploadStep.h"
#include "sync/CopyHost.h"
#include "tests/support/TestEnv.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vela::test {

inline bool contains(const std::string& hay, const std::string& needle) {
    return hay.find(needle) != std::string::npos;
}

inline bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A database's header page as the server's own statistics tool reads it rather than as our code
// does.
inline std::string headerPage(const std::string& database) {
    std::string command = std::string(VELA_GSTAT) + " -h '" + database + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run " + command);
    std::string out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    ::pclose(pipe);
    if (!contains(out, "Attributes"))
        throw std::runtime_error("no header in: " + out);
    return out;
}

inline bool headerSaysForcedWrites(const std::string& database) {
    return contains(headerPage(database), "force write");
}

// Whether the engine keeps room on the data pages for later row versions (off: "no reserve").
inline bool headerSaysReserve(const std::string& database) {
    return !contains(headerPage(database), "no reserve");
}

// The mobile database a synchronization run is building beside the published one
// (BANCODADOS.gdb.<pid>.tmp), or an empty text when none is.
inline std::string buildingFile(const std::string& mobilePath) {
    namespace fs = std::filesystem;
    const std::string prefix = fs::path(mobilePath).filename().string() + ".";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(mobilePath).parent_path(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && endsWith(name, ".tmp"))
            return entry.path().string();
    }
    return {};
}

// How many times text holds part.
inline size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// How many lines of a run log file begin with prefix.
inline size_t countLinesStarting(const std::string& log, const std::string& prefix) {
    size_t n = 0;
    for (const auto& line : logLines(log))
        n += line.rfind(prefix, 0) == 0;
    return n;
}

// A window stand-in for in-process table copies and uploads: records the log and the gauge.
class RecordingHost : public CopyHost, public UploadHost {
public:
    std::vector<std::string> lines;
    int position = 0;
    int maximum = 100;
    std::vector<std::pair<int, int>> maxima; // (maximum, position) at each setGaugeMaximum
    std::vector<std::string> gauge;          // "max n", "pos n" and "step" in order
    int events = 0;
    std::function<void()> onEvents;
    std::vector<std::pair<std::int64_t, std::int64_t>> uploaded; // (bytes so far, total) per event
    std::vector<std::string> childRows;                          // "rows/total" per child row

    void appendLog(std::string_view line) override { lines.emplace_back(line); }
    void setGaugePosition(int p) override {
        position = std::clamp(p, 0, std::max(maximum, 0));
        gauge.push_back("pos " + std::to_string(p));
    }
    void setGaugeMaximum(int m) override {
        maximum = m;
        position = std::min(position, m);
        maxima.emplace_back(maximum, position);
        gauge.push_back("max " + std::to_string(m));
    }
    void stepGauge() override {
        position = std::min(position + 1, maximum);
        gauge.push_back("step");
    }
    void childRowCopied(std::int64_t rows, std::int64_t total) override {
        childRows.push_back(std::to_string(rows) + "/" + std::to_string(total));
    }
    void processEvents() override {
        ++events;
        if (onEvents)
            onEvents();
    }
    void uploadProgress(std::int64_t bytesSoFar, std::int64_t total) override {
        uploaded.emplace_back(bytesSoFar, total);
    }
};

// The data module on a back office and a mobile database, both connections open and the mobile
// transaction started as the synchronization run leaves them before its first copy.
struct InProcess {
    TempDir dir;
    std::string source = dir / "backoffice.fdb";
    std::string mobile = dir / "BANCODADOS.gdb";
    std::unique_ptr<TDMSistemaCadastro> dm;

    void start() {
        dm = std::make_unique<TDMSistemaCadastro>(TDMSistemaCadastro::Paths{source, mobile});
        dm->FDConnectionBancoMovel.open();
        dm->FDConnectionBancoVela.open();
        dm->FDTransactionBancoMovel.start();
    }
};

} // namespace vela::test
