// Measuring one back office: every way of copying its rows, each in a child process of its own, in
// rounds, and the upload of the file they made.
#pragma once

#include "bench/ChildReport.h"
#include "bench/Processes.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vela::bench {

struct Options {
    std::vector<std::pair<long long, std::string>> scales;
    std::string work, app, templ, ftpScript, json, command;
    int repeat = 1;
    bool keep = false;
    bool forcedWritesOffVariants = true;
};

struct Measured {
    Exit exit;
    Report report;
    // The unattended run whose upload is refused: it ends failed, having done step 1.
    bool expectsFailure = false;
    bool ok() const { return !exit.timedOut && (expectsFailure ? exit.code != 0 : exit.code == 0); }
};

struct Scale {
    long long generated = 0;
    std::string source;
    std::vector<std::string> copies; // the table copies the run has (their header shows in the log)
    long long rowsCopied = 0;
    // The fastest of each measurement's runs. binaryStep1 is the unattended program whose upload
    // is refused at once: start-up and step 1, then the failed connection and the saved log.
    std::optional<Measured> binary, window, engine, raw, server, windowAsync, rawAsync, binaryStep1;
    // The least processor time of any run of these two, for their ratio.
    double binaryStep1CpuSeconds = 0, rawAsyncCpuSeconds = 0;
    std::string binaryLog;
    long long binaryLogBytes = 0;
    bool countsMatch = true;
    std::string countsNote;
    std::string uploadStatus; // "measured" or why not
    double uploadSeconds = 0, curlSeconds = 0;
    long long uploadBytes = 0;
    // The file the unattended program published, and what Firebird's own backup and restore of it
    // with every page filled (gbak -b, then gbak -c -use_all_space) makes: the least it could be.
    long long publishedBytes = 0, restoreFloorBytes = 0;
};

// Rows a table copy left in the mobile tables a run reported.
long long copyRows(const Report& r, const std::string& copy);

void runScale(Scale& sc, const Options& o, FtpServer& ftp);

} // namespace vela::bench
