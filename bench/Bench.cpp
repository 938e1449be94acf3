// The benchmark driver. bench/run builds it and calls
//
//   vela_bench all --scale ROWS:BACKOFFICE.fdb [--scale ...] --work DIR --app EXE --template VAZIO.GDB
//                  --ftp-server SCRIPT [--repeat K] [--json OUT] [--command TEXT]
//
// which, for each back office, runs on it: the unattended program end to end; the window's step 1
// in process (offscreen, with its run log, gauge and events) and its upload; the same copies with a
// host that does nothing; the raw copy limit; Firebird's server-side copy; and curl's upload of
// the same file. Every one of them is a child process of its own (vela_bench window|engine|raw|
// server-copy ...), so each starts from the same state and has its own peak memory.

#include "bench/Catalogue.h"
#include "bench/Children.h"
#include "common/Cp1252.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace vela::bench;

namespace {

// ---- processes -----------------------------------------------------------------------------

struct Exit {
    int code = -1;
    bool timedOut = false;
    double seconds = 0;
    long peakRssKiB = 0; // of the child alone
    double cpuSeconds = 0;
};

Exit spawn(const std::vector<std::string>& args, const std::string& cwd, const std::string& outPath,
           std::chrono::seconds timeout = std::chrono::hours(3)) {
    auto t0 = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        if (!outPath.empty()) {
            if (!std::freopen(outPath.c_str(), "w", stdout) || !std::freopen(outPath.c_str(), "a", stderr))
                _exit(126);
        }
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        unsetenv("ATUALIZAVELA_CONFIG");
        std::vector<char*> argv;
        std::vector<std::string> copy(args);
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    Exit r;
    int status = 0;
    rusage usage{};
    auto deadline = t0 + timeout;
    for (;;) {
        pid_t w = wait4(pid, &status, WNOHANG, &usage);
        if (w == pid)
            break;
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            r.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.seconds = seconds(t0, Clock::now());
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.peakRssKiB = usage.ru_maxrss;
    r.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return r;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string tail(const std::string& text, size_t n = 1500) {
    return text.size() > n ? text.substr(text.size() - n) : text;
}

void warmUp(const std::string& file) {
    // The first measured run should not be the one that reads the back office from disk.
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buf(1 << 20);
    while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) || in.gcount() > 0) {
    }
}

// ---- the FTP server ------------------------------------------------------------------------

class FtpServer {
public:
    FtpServer(const std::string& script, const std::string& root) : root_(root) {
        fs::create_directories(root + "/www/downloads/CasadoNo");
        std::string portFile = root + ".port";
        fs::remove(portFile);
        pid_ = fork();
        if (pid_ == 0) {
            // The tests' server: it prints the port it bound as its first line.
            std::string log = root + ".log";
            if (!std::freopen(portFile.c_str(), "w", stdout) || !std::freopen(log.c_str(), "a", stderr))
                _exit(126);
            execl("/usr/bin/python3", "python3", script.c_str(), "--port", "0", "--home", root.c_str(), "--user",
                  "tarquimsistemas", "--password", "582716", "--log", log.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500 && port_ == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::string text = readAll(portFile);
            if (!text.empty() && text.back() == '\n')
                port_ = std::atoi(text.c_str());
        }
        if (port_ == 0)
            throw std::runtime_error("the FTP server did not start: " + readAll(root + ".log"));
    }
    ~FtpServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    int port() const { return port_; }
    std::string path(const std::string& remote) const { return root_ + remote; }

private:
    std::string root_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// ---- results -------------------------------------------------------------------------------

struct Measured {
    Exit exit;
    Report report;
    bool ok() const { return exit.code == 0 && !exit.timedOut; }
};

struct Scale {
    long long generated = 0;
    std::string source;
    std::vector<std::string> copies; // the table copies the run has (their header shows in the log)
    long long rowsCopied = 0;
    std::optional<Measured> binary, window, engine, raw, server, windowAsync, rawAsync;
    std::string binaryLog;
    long long binaryLogBytes = 0;
    bool countsMatch = true;
    std::string countsNote;
    std::string uploadStatus; // "measured" or why not
    double uploadSeconds = 0, curlSeconds = 0;
    long long uploadBytes = 0;
};

double best(const std::vector<Measured>& runs, Measured& out) {
    double b = -1;
    for (const Measured& m : runs) {
        double s = m.report.number("seconds", m.exit.seconds);
        if (m.ok() && (b < 0 || s < b)) {
            b = s;
            out = m;
        }
    }
    if (b < 0 && !runs.empty())
        out = runs.back();
    return b;
}

// A small JSON writer, enough for figures, texts and nesting.
class Json {
public:
    void open(const char* key = nullptr, char bracket = '{') {
        item(key);
        out_ += bracket;
        first_.push_back(true);
    }
    void close(char bracket = '}') {
        first_.pop_back();
        newline();
        out_ += bracket;
    }
    void num(const char* key, double v, int decimals = 3) {
        item(key);
        if (!std::isfinite(v)) {
            out_ += "null";
            return;
        }
        char t[64];
        std::snprintf(t, sizeof t, "%.*f", decimals, v);
        out_ += t;
    }
    void integer(const char* key, long long v) {
        item(key);
        out_ += std::to_string(v);
    }
    void null(const char* key) {
        item(key);
        out_ += "null";
    }
    void boolean(const char* key, bool v) {
        item(key);
        out_ += v ? "true" : "false";
    }
    void str(const char* key, const std::string& v) {
        item(key);
        quote(v);
    }
    const std::string& text() const { return out_; }

private:
    void quote(const std::string& v) {
        out_ += '"';
        for (unsigned char c : v) {
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += static_cast<char>(c);
            } else if (c < 0x20) {
                char t[8];
                std::snprintf(t, sizeof t, "\\u%04x", c);
                out_ += t;
            } else {
                out_ += static_cast<char>(c);
            }
        }
        out_ += '"';
    }
    void newline() {
        out_ += '\n';
        out_.append(first_.size() * 2, ' ');
    }
    void item(const char* key) {
        if (!first_.empty()) {
            if (!first_.back())
                out_ += ',';
            first_.back() = false;
            newline();
        }
        if (key) {
            quote(key);
            out_ += ": ";
        }
    }
    std::string out_;
    std::vector<bool> first_;
};

double perRowUs(double secs, long long rows) {
    return rows > 0 ? secs * 1e6 / static_cast<double>(rows) : NAN;
}
double rowsPerSecond(double secs, long long rows) {
    return secs > 0 ? static_cast<double>(rows) / secs : NAN;
}

double tableSeconds(const Report& r, const std::string& copy) {
    for (const auto& [name, s] : r.tables)
        if (name == copy)
            return s;
    return NAN;
}

long long copyRows(const Report& r, const std::string& copy) {
    const CopyEntry* e = findCopy(copy);
    long long n = 0;
    if (e)
        for (std::string_view t : e->mobileTables) {
            auto it = r.mobileRows.find(std::string(t));
            if (it != r.mobileRows.end())
                n += it->second;
        }
    return n;
}

// ---- one scale -----------------------------------------------------------------------------

struct Options {
    std::vector<std::pair<long long, std::string>> scales;
    std::string work, app, templ, ftpScript, json, command;
    int repeat = 1;
    bool keep = false;
    bool forcedWritesOffVariants = true;
};

std::string self() {
    return fs::read_symlink("/proc/self/exe").string();
}

Measured child(const std::string& mode, const std::string& source, const Options& o, const std::string& folder,
               const std::vector<std::string>& copies, int ftpPort = 0, bool forcedWritesOff = false) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::string report = folder + "/report.txt";
    std::vector<std::string> args{self(),  mode,       "--source", source,     "--template",
                                  o.templ, "--folder", folder,     "--report", report};
    if (!copies.empty()) {
        std::string list;
        for (const auto& c : copies)
            list += (list.empty() ? "" : ",") + c;
        args.insert(args.end(), {"--copies", list});
    }
    if (ftpPort)
        args.insert(args.end(), {"--ftp-port", std::to_string(ftpPort)});
    if (forcedWritesOff)
        args.insert(args.end(), {"--forced-writes-off", "1"});
    Measured m;
    m.exit = spawn(args, folder, folder + "/output.txt");
    m.report = Report::read(report);
    if (!m.ok())
        std::fprintf(stderr, "  %s failed (exit %d%s): %s\n", mode.c_str(), m.exit.code,
                     m.exit.timedOut ? ", timed out" : "", tail(readAll(folder + "/output.txt")).c_str());
    return m;
}

void runScale(Scale& sc, const Options& o, FtpServer& ftp) {
    std::string base = o.work + "/" + std::to_string(sc.generated);
    fs::create_directories(base);
    warmUp(sc.source);
    std::printf("\n== %lld generated rows: %s\n", sc.generated, sc.source.c_str());
    std::fflush(stdout);

    auto repeat = [&](const char* what, auto&& once) {
        std::vector<Measured> runs;
        for (int i = 0; i < o.repeat; ++i) {
            std::printf("  %s (%d/%d)...", what, i + 1, o.repeat);
            std::fflush(stdout);
            runs.push_back(once(i));
            std::printf(" %.2f s\n", runs.back().report.number("seconds", runs.back().exit.seconds));
            std::fflush(stdout);
        }
        Measured b;
        best(runs, b);
        return b;
    };

    const std::string remote = "/www/downloads/CasadoNo/BANCODADOS.gdb";
    std::vector<double> uploads;
    sc.window = repeat("window, step 1 and upload in process", [&](int) {
        fs::remove(ftp.path(remote));
        Measured m = child("window", sc.source, o, base + "/window", {}, ftp.port());
        std::error_code ec;
        auto local = fs::file_size(m.report.text("mobile_path"), ec);
        auto sent = fs::file_size(ftp.path(remote), ec);
        if (!ec && sent == local && m.report.has("upload_seconds")) {
            uploads.push_back(m.report.number("upload_seconds"));
            sc.uploadBytes = static_cast<long long>(sent);
        }
        return m;
    });
    for (const auto& [name, secs] : sc.window->report.tables)
        sc.copies.push_back(name);
    for (const auto& c : sc.copies)
        sc.rowsCopied += copyRows(sc.window->report, c);

    // Step 1 switches the mobile file's forced writes off; the engine alone is measured the same way,
    // so that window minus engine is what the window costs and not the disk's waits.
    sc.engine = repeat("copy engine, host doing nothing", [&](int) {
        return child("engine", sc.source, o, base + "/engine", sc.copies, 0, o.forcedWritesOffVariants);
    });
    sc.raw =
        repeat("raw prepared-INSERT loop", [&](int) { return child("raw", sc.source, o, base + "/raw", sc.copies); });
    sc.server = repeat("server-side copy (EXECUTE STATEMENT ON EXTERNAL DATA SOURCE)",
                       [&](int) { return child("server-copy", sc.source, o, base + "/server", sc.copies); });
    if (o.forcedWritesOffVariants) {
        sc.windowAsync = repeat("window, step 1, mobile file without forced writes", [&](int) {
            return child("window", sc.source, o, base + "/window-async", {}, 0, true);
        });
        sc.rawAsync = repeat("raw loop, mobile file without forced writes",
                             [&](int) { return child("raw", sc.source, o, base + "/raw-async", sc.copies, 0, true); });
    }

    sc.binary = repeat("unattended binary, end to end", [&](int) {
        std::string dir = base + "/binary";
        fs::remove_all(dir);
        fs::create_directories(dir + "/movel/Banco");
        fs::copy_file(o.app, dir + "/atualizavela-movel");
        fs::copy_file(o.templ, dir + "/movel/Banco/VAZIO.GDB");
        std::ofstream(dir + "/atualizavela-movel.ini")
            << "[paths]\nmobile_folder=" << dir << "/movel\nsource_database=" << sc.source
            << "\n[ftp]\nhost=127.0.0.1\nport=" << ftp.port() << "\n";
        fs::remove(ftp.path(remote));
        Measured m;
        m.exit = spawn({dir + "/atualizavela-movel", "EXECUTAR"}, dir, dir + "/output.txt");
        m.report.set("seconds", m.exit.seconds);
        std::string log = readAll(dir + "/logAtualizaVela-Movel.txt");
        sc.binaryLogBytes = static_cast<long long>(log.size());
        size_t lines = 0;
        for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2))
            ++lines;
        m.report.set("log_lines", static_cast<double>(lines));
        sc.binaryLog = vela::cp1252::toUtf8(tail(log, 300));
        if (m.ok())
            m.report.mobileRows = countRows(dir + "/movel/Banco/BANCODADOS.gdb", mobileTables());
        else
            std::fprintf(stderr, "  binary failed (exit %d%s): %s\n", m.exit.code, m.exit.timedOut ? ", timed out" : "",
                         tail(readAll(dir + "/output.txt")).c_str());
        return m;
    });

    // Every way of copying must have written the same rows.
    for (const auto& c : sc.copies) {
        long long w = copyRows(sc.window->report, c);
        for (auto* opt : {&sc.binary, &sc.engine, &sc.raw, &sc.server, &sc.windowAsync, &sc.rawAsync}) {
            if (!*opt)
                continue;
            Measured* m = &**opt;
            if (m->report.mobileRows.empty())
                continue;
            long long n = copyRows(m->report, c);
            if (n != w) {
                sc.countsMatch = false;
                sc.countsNote += c + ": window " + std::to_string(w) + " vs " + std::to_string(n) + "; ";
            }
        }
    }

    // The upload: the program's (timed inside the window child) and curl's, of the same file.
    if (uploads.empty()) {
        sc.uploadStatus = "skipped: upload not built yet";
        if (sc.window->report.has("upload_last_line") && !sc.window->report.text("upload_last_line").empty() &&
            sc.window->report.text("upload_last_line").find("Finalizando") == std::string::npos)
            sc.uploadStatus += " (last log line: " + sc.window->report.text("upload_last_line") + ")";
    } else {
        sc.uploadStatus = "measured";
        sc.uploadSeconds = *std::min_element(uploads.begin(), uploads.end());
    }
    std::string file = sc.window->report.text("mobile_path");
    std::vector<double> curls;
    for (int i = 0; i < 5 && fs::exists(file); ++i) {
        std::string target = "/www/downloads/CasadoNo/curl.gdb";
        fs::remove(ftp.path(target));
        // curl's own time from connecting to the end of the transfer, as the program's upload is
        // timed from its click to its end: neither counts starting a process.
        Exit e = spawn({"curl", "-sS", "-T", file, "--user", "tarquimsistemas:582716", "-w",
                        "\ncurl_time %{time_total}\n", "ftp://127.0.0.1:" + std::to_string(ftp.port()) + target},
                       "", base + "/curl.txt");
        std::error_code ec;
        std::string out = readAll(base + "/curl.txt");
        size_t at = out.find("curl_time ");
        if (e.code == 0 && at != std::string::npos && fs::file_size(ftp.path(target), ec) == fs::file_size(file))
            curls.push_back(std::strtod(out.c_str() + at + 10, nullptr));
        else
            std::fprintf(stderr, "  curl failed: %s\n", readAll(base + "/curl.txt").c_str());
        fs::remove(ftp.path(target));
    }
    if (!curls.empty()) {
        sc.curlSeconds = *std::min_element(curls.begin(), curls.end());
        if (!sc.uploadBytes)
            sc.uploadBytes = static_cast<long long>(fs::file_size(file));
    }
    fs::remove(ftp.path(remote));
    if (!o.keep)
        for (const char* d : {"/window", "/engine", "/raw", "/server", "/binary", "/window-async", "/raw-async"})
            fs::remove_all(base + d);
}

// ---- printing ------------------------------------------------------------------------------

double ratio(double a, double b) {
    return (a > 0 && b > 0) ? a / b : NAN;
}

// The raw loop run with the mobile file's forced writes as the engine-alone run had them.
const Measured& engineBaseline(const Scale& sc) {
    return sc.rawAsync ? *sc.rawAsync : *sc.raw;
}

void print(const Scale& sc) {
    const long long n = sc.rowsCopied;
    double win = sc.window->report.number("seconds"), eng = sc.engine->report.number("seconds"),
           raw = sc.raw->report.number("seconds"), rawCpu = sc.raw->report.number("cpu_seconds");
    std::printf("\n%lld rows generated, %lld copied by the %zu table copies the run has\n", sc.generated, n,
                sc.copies.size());
    std::printf("  %-48s %8s %8s %9s %8s %7s %7s %9s\n", "", "seconds", "cpu s", "rows/s", "us/row", "x raw", "cpu x",
                "peak RSS");
    auto line = [&](const char* what, const std::optional<Measured>& m, double s, double cpu) {
        if (!m)
            return;
        std::printf("  %-48s %8.2f %8.2f %9.0f %8.2f %7.2f %7.2f %6.1f MB\n", what, s, cpu, rowsPerSecond(s, n),
                    perRowUs(s, n), ratio(s, raw), ratio(cpu, rawCpu), m->exit.peakRssKiB / 1024.0);
    };
    auto inner = [&](const char* what, const std::optional<Measured>& m) {
        if (m)
            line(what, m, m->report.number("seconds"), m->report.number("cpu_seconds"));
    };
    line("unattended binary, end to end (whole process)", sc.binary, sc.binary->exit.seconds,
         sc.binary->exit.cpuSeconds);
    inner("window step 1 (log, gauge, events), in process", sc.window);
    inner(sc.rawAsync ? "copy engine, host doing nothing, fw off" : "copy engine, host doing nothing", sc.engine);
    inner("raw prepared-INSERT loop (OO API)", sc.raw);
    inner("server-side copy (EXECUTE STATEMENT ... EDS)", sc.server);
    inner("window step 1, forced writes off", sc.windowAsync);
    inner("raw loop, forced writes off", sc.rawAsync);
    std::printf("  window overhead (window - engine): %.2f us/row wall, %.2f us/row cpu; idle event round "
                "%.2f us\n",
                perRowUs(win - eng, n),
                perRowUs(sc.window->report.number("cpu_seconds") - sc.engine->report.number("cpu_seconds"), n),
                sc.window->report.number("idle_event_round_us"));
    std::printf("  the window's calls alone, per row: events %.2f us, log line %.2f us, gauge step %.2f us; "
                "all three "
                "%.2f us (%.2f us with the gauge reset every 13 rows)\n",
                sc.window->report.number("host_events_us"), sc.window->report.number("host_log_us"),
                sc.window->report.number("host_gauge_us"), sc.window->report.number("host_row_us"),
                sc.window->report.number("host_row_short_tables_us"));
    const Measured& rawAsEngine = engineBaseline(sc);
    std::printf("  engine overhead (engine - raw, forced writes alike): %.2f us/row wall, %.2f us/row cpu\n",
                perRowUs(eng - rawAsEngine.report.number("seconds"), n),
                perRowUs(sc.engine->report.number("cpu_seconds") - rawAsEngine.report.number("cpu_seconds"), n));
    std::printf("  run log: %lld bytes, %.0f lines; %.0f event rounds; %.0f repaints, longest without one "
                "%.0f ms (in %s)\n",
                sc.binaryLogBytes, sc.window->report.number("log_lines"), sc.window->report.number("event_rounds"),
                sc.window->report.number("paints"), sc.window->report.number("max_paint_gap_ms"),
                sc.window->report.text("max_paint_gap_in").c_str());
    if (sc.windowAsync)
        std::printf("  with forced writes off: %.0f repaint gaps over 100 ms, %.2f s in all, longest %.0f ms (in %s)\n",
                    sc.windowAsync->report.number("paint_gaps_over_100ms"),
                    sc.windowAsync->report.number("paint_gaps_over_100ms_seconds"),
                    sc.windowAsync->report.number("max_paint_gap_ms"),
                    sc.windowAsync->report.text("max_paint_gap_in").c_str());
    std::printf("  peak memory of the window process at the end of step 1: %.1f MB (before the upload and the "
                "saved log)\n",
                sc.window->report.number("peak_rss_kib_after_run") / 1024.0);
    std::printf("  repaint gaps over 100 ms: %.0f, %.2f s in all; setup before the first table: %.2f s\n",
                sc.window->report.number("paint_gaps_over_100ms"),
                sc.window->report.number("paint_gaps_over_100ms_seconds"), sc.window->report.number("setup_seconds"));
    std::printf("  repaint gaps over 250 ms: %.0f, %.0f of them not inside one database call%s%s\n",
                sc.window->report.number("paint_gaps_over_250ms"),
                sc.window->report.number("paint_gaps_over_250ms_not_one_database_call"),
                sc.window->report.text("paint_gaps_over_250ms_calls").empty() ? "" : "\n    ",
                sc.window->report.text("paint_gaps_over_250ms_calls").c_str());
    if (sc.rawAsync)
        std::printf("  window step 1 / raw loop with forced writes off: %.2f\n",
                    ratio(win, sc.rawAsync->report.number("seconds")));
    std::printf("  %-26s %9s %9s %9s %9s %9s %7s\n", "table copy", "rows", "window s", "engine s", "raw s", "server s",
                "win/raw");
    for (const auto& c : sc.copies) {
        double w = tableSeconds(sc.window->report, c), r = tableSeconds(sc.raw->report, c);
        std::printf("  %-26s %9lld %9.2f %9.2f %9.2f %9.2f %7.2f\n", c.c_str(), copyRows(sc.window->report, c), w,
                    tableSeconds(sc.engine->report, c), r, tableSeconds(sc.server->report, c), ratio(w, r));
    }
    if (!sc.countsMatch)
        std::printf("  ROW COUNTS DIFFER: %s\n", sc.countsNote.c_str());
    if (sc.uploadStatus == "measured")
        std::printf("  upload of %.1f MB: program %.2f s (%.0f progress lines), curl -T %.2f s, program/curl "
                    "throughput %.2f\n",
                    sc.uploadBytes / 1048576.0, sc.uploadSeconds, sc.window->report.number("upload_log_lines"),
                    sc.curlSeconds, ratio(sc.curlSeconds, sc.uploadSeconds));
    else
        std::printf("  upload: %s; curl -T of the %.1f MB file: %.2f s (%.0f MB/s)\n", sc.uploadStatus.c_str(),
                    sc.uploadBytes / 1048576.0, sc.curlSeconds, sc.uploadBytes / 1048576.0 / sc.curlSeconds);
    if (sc.binary->exit.code != 0)
        std::printf("  binary exit %d; log ends: %s\n", sc.binary->exit.code, sc.binaryLog.c_str());
}

void writeJson(const std::vector<Scale>& scales, const Options& o) {
    Json j;
    j.open();
    j.str("command", o.command);
    char date[64];
    std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S%z", std::localtime(&now));
    j.str("date", date);
    j.integer("cores", static_cast<long long>(std::thread::hardware_concurrency()));
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    j.num("load_average_at_end", load[0], 2);
    j.integer("repeat", o.repeat);
    const Scale& top = scales.back();
    const long long n = top.rowsCopied;
    j.num("run_to_raw_ratio", ratio(top.window->report.number("seconds"), top.raw->report.number("seconds")));
    j.num("binary_to_raw_ratio", ratio(top.binary->exit.seconds, top.raw->report.number("seconds")));
    j.num("run_to_server_copy_ratio",
          ratio(top.window->report.number("seconds"), top.server->report.number("seconds")));
    j.num("window_overhead_us_per_row",
          perRowUs(top.window->report.number("seconds") - top.engine->report.number("seconds"), n), 2);
    if (top.rawAsync)
        j.num("run_to_raw_fw_off_ratio",
              ratio(top.window->report.number("seconds"), top.rawAsync->report.number("seconds")));
    j.num("repaint_gaps_over_250ms", top.window->report.number("paint_gaps_over_250ms"), 0);
    j.num("repaint_gaps_over_250ms_not_one_database_call",
          top.window->report.number("paint_gaps_over_250ms_not_one_database_call"), 0);
    if (top.uploadStatus == "measured")
        j.num("upload_to_curl_ratio", ratio(top.curlSeconds, top.uploadSeconds));
    else
        j.null("upload_to_curl_ratio");
    j.str("upload_status", top.uploadStatus);
    j.num("run_to_raw_cpu_ratio",
          ratio(top.window->report.number("cpu_seconds"), top.raw->report.number("cpu_seconds")));
    j.num("window_overhead_cpu_us_per_row",
          perRowUs(top.window->report.number("cpu_seconds") - top.engine->report.number("cpu_seconds"), n), 2);
    if (scales.size() > 1) {
        const Scale& low = scales.front();
        j.num("run_us_per_row_growth", ratio(perRowUs(top.window->report.number("seconds"), top.rowsCopied),
                                             perRowUs(low.window->report.number("seconds"), low.rowsCopied)));
        j.num("raw_us_per_row_growth", ratio(perRowUs(top.raw->report.number("seconds"), top.rowsCopied),
                                             perRowUs(low.raw->report.number("seconds"), low.rowsCopied)));
        double rows = static_cast<double>(top.rowsCopied - low.rowsCopied) / 1e6;
        j.num("binary_peak_rss_mb_per_million_rows",
              (top.binary->exit.peakRssKiB - low.binary->exit.peakRssKiB) / 1024.0 / rows, 1);
        j.num("step1_peak_rss_mb_per_million_rows",
              (top.window->report.number("peak_rss_kib_after_run") -
               low.window->report.number("peak_rss_kib_after_run")) /
                  1024.0 / rows,
              1);
        j.num("log_mb_per_million_rows", (top.binaryLogBytes - low.binaryLogBytes) / 1048576.0 / rows, 1);
        // Step 1's peak memory at each size side by side, and how much the largest needs over the
        // smallest.
        j.open("step1_peak_rss_mb_by_rows_generated");
        for (const Scale& sc : scales)
            j.num(std::to_string(sc.generated).c_str(), sc.window->report.number("peak_rss_kib_after_run") / 1024.0, 1);
        j.close();
        j.num("step1_peak_rss_growth", ratio(top.window->report.number("peak_rss_kib_after_run"),
                                             low.window->report.number("peak_rss_kib_after_run")));
    }
    j.open("scales", '[');
    for (const Scale& sc : scales) {
        const long long rows = sc.rowsCopied;
        j.open();
        j.integer("rows_generated", sc.generated);
        j.integer("rows_copied", rows);
        j.integer("table_copies", static_cast<long long>(sc.copies.size()));
        j.boolean("row_counts_match", sc.countsMatch);
        auto figure = [&](const char* key, const std::optional<Measured>& m, double secs, double cpu) {
            if (!m)
                return;
            j.open(key);
            j.num("seconds", secs);
            j.num("cpu_seconds", cpu, 2);
            j.num("rows_per_second", rowsPerSecond(secs, rows), 0);
            j.num("us_per_row", perRowUs(secs, rows), 2);
            j.num("to_raw", ratio(secs, sc.raw->report.number("seconds")));
            j.num("cpu_to_raw", ratio(cpu, sc.raw->report.number("cpu_seconds")));
            j.num("peak_rss_mb", m->exit.peakRssKiB / 1024.0, 1);
            j.integer("exit_code", m->exit.code);
            j.close();
        };
        auto inner = [&](const char* key, const std::optional<Measured>& m) {
            if (m)
                figure(key, m, m->report.number("seconds"), m->report.number("cpu_seconds"));
        };
        figure("binary", sc.binary, sc.binary->exit.seconds, sc.binary->exit.cpuSeconds);
        inner("window", sc.window);
        inner("engine", sc.engine);
        inner("raw", sc.raw);
        inner("server_copy", sc.server);
        inner("window_forced_writes_off", sc.windowAsync);
        inner("raw_forced_writes_off", sc.rawAsync);
        j.num("idle_event_round_us", sc.window->report.number("idle_event_round_us"), 2);
        j.open("host_us_per_row");
        for (const char* k : {"events", "log", "gauge", "row", "row_short_tables"})
            j.num(k, sc.window->report.number(std::string("host_") + k + "_us"), 2);
        j.close();
        j.num("window_overhead_cpu_us_per_row",
              perRowUs(sc.window->report.number("cpu_seconds") - sc.engine->report.number("cpu_seconds"), rows), 2);
        j.num("engine_overhead_cpu_us_per_row",
              perRowUs(sc.engine->report.number("cpu_seconds") - engineBaseline(sc).report.number("cpu_seconds"),
                       rows),
              2);
        j.num("run_to_raw_ratio", ratio(sc.window->report.number("seconds"), sc.raw->report.number("seconds")));
        if (sc.rawAsync)
            j.num("run_to_raw_fw_off_ratio",
                  ratio(sc.window->report.number("seconds"), sc.rawAsync->report.number("seconds")));
        j.num("window_overhead_us_per_row",
              perRowUs(sc.window->report.number("seconds") - sc.engine->report.number("seconds"), rows), 2);
        j.num("engine_overhead_us_per_row",
              perRowUs(sc.engine->report.number("seconds") - engineBaseline(sc).report.number("seconds"), rows), 2);
        j.num("setup_seconds", sc.window->report.number("setup_seconds"));
        j.num("step1_peak_rss_mb", sc.window->report.number("peak_rss_kib_after_run") / 1024.0, 1);
        j.integer("log_bytes", sc.binaryLogBytes);
        j.num("log_lines", sc.window->report.number("log_lines"), 0);
        j.num("event_rounds", sc.window->report.number("event_rounds"), 0);
        j.num("repaints", sc.window->report.number("paints"), 0);
        j.num("max_repaint_gap_ms", sc.window->report.number("max_paint_gap_ms"), 0);
        j.str("max_repaint_gap_in", sc.window->report.text("max_paint_gap_in"));
        j.num("repaint_gaps_over_100ms", sc.window->report.number("paint_gaps_over_100ms"), 0);
        j.num("repaint_gaps_over_100ms_seconds", sc.window->report.number("paint_gaps_over_100ms_seconds"), 2);
        j.num("repaint_gaps_over_250ms", sc.window->report.number("paint_gaps_over_250ms"), 0);
        j.num("repaint_gaps_over_250ms_not_one_database_call",
              sc.window->report.number("paint_gaps_over_250ms_not_one_database_call"), 0);
        j.str("repaint_gaps_over_250ms_calls", sc.window->report.text("paint_gaps_over_250ms_calls"));
        if (sc.windowAsync) {
            j.num("forced_writes_off_max_repaint_gap_ms", sc.windowAsync->report.number("max_paint_gap_ms"), 0);
            j.num("forced_writes_off_repaint_gaps_over_100ms", sc.windowAsync->report.number("paint_gaps_over_100ms"),
                  0);
        }
        j.open("tables", '[');
        for (const auto& c : sc.copies) {
            j.open();
            j.str("copy", c);
            j.integer("rows", copyRows(sc.window->report, c));
            j.num("window_seconds", tableSeconds(sc.window->report, c));
            j.num("engine_seconds", tableSeconds(sc.engine->report, c));
            j.num("raw_seconds", tableSeconds(sc.raw->report, c));
            j.num("server_copy_seconds", tableSeconds(sc.server->report, c));
            j.close();
        }
        j.close(']');
        j.open("upload");
        j.str("status", sc.uploadStatus);
        j.integer("bytes", sc.uploadBytes);
        if (sc.uploadStatus == "measured")
            j.num("program_seconds", sc.uploadSeconds);
        else
            j.null("program_seconds");
        j.num("curl_seconds", sc.curlSeconds);
        j.num("program_progress_lines", sc.window->report.number("upload_log_lines"), 0);
        if (sc.uploadStatus == "measured")
            j.num("upload_to_curl_ratio", ratio(sc.curlSeconds, sc.uploadSeconds));
        else
            j.null("upload_to_curl_ratio");
        j.close();
        j.close();
    }
    j.close(']');
    j.close();
    fs::create_directories(fs::path(o.json).parent_path());
    std::ofstream(o.json, std::ios::binary | std::ios::trunc) << j.text() << '\n';
}

int allMain(const Options& o) {
    fs::create_directories(o.work);
    FtpServer ftp(o.ftpScript, o.work + "/ftp");
    std::vector<Scale> scales;
    for (const auto& [rows, path] : o.scales) {
        Scale sc;
        sc.generated = rows;
        sc.source = path;
        runScale(sc, o, ftp);
        print(sc);
        scales.push_back(std::move(sc));
    }
    if (scales.size() > 1) {
        std::printf("\npeak memory of step 1:");
        for (const Scale& sc : scales)
            std::printf(" %.1f MB at %lld rows;", sc.window->report.number("peak_rss_kib_after_run") / 1024.0,
                        sc.generated);
        std::printf(" largest / smallest %.2f\n",
                    ratio(scales.back().window->report.number("peak_rss_kib_after_run"),
                          scales.front().window->report.number("peak_rss_kib_after_run")));
    }
    if (!o.json.empty()) {
        writeJson(scales, o);
        std::printf("\nwritten: %s\n", o.json.c_str());
    }
    for (const Scale& sc : scales)
        if (!sc.window->ok() || !sc.raw->ok() || !sc.engine->ok() || !sc.server->ok() || !sc.binary->ok() ||
            !sc.countsMatch)
            return 1;
    return 0;
}

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> out;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            out.push_back(item);
    return out;
}

int usage() {
    std::fprintf(stderr,
                 "usage: vela_bench all --scale ROWS:FILE [...] --work DIR --app EXE --template GDB --ftp-server PY\n"
                 "                      [--repeat K] [--json OUT] [--keep]\n"
                 "       vela_bench window|engine|raw|server-copy --source FDB --template GDB --folder DIR\n"
                 "                      --report FILE [--copies a,b] [--ftp-port P]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    std::string mode = argv[1];
    try {
        if (mode == "all") {
            Options o;
            for (int i = 2; i < argc; ++i) {
                std::string a = argv[i];
                auto value = [&]() -> std::string {
                    if (i + 1 >= argc)
                        throw std::runtime_error("missing value of " + a);
                    return argv[++i];
                };
                if (a == "--scale") {
                    std::string v = value();
                    size_t colon = v.find(':');
                    if (colon == std::string::npos)
                        return usage();
                    o.scales.emplace_back(std::atoll(v.substr(0, colon).c_str()), fs::absolute(v.substr(colon + 1)));
                } else if (a == "--work")
                    o.work = fs::absolute(value());
                else if (a == "--app")
                    o.app = fs::absolute(value());
                else if (a == "--template")
                    o.templ = fs::absolute(value());
                else if (a == "--ftp-server")
                    o.ftpScript = fs::absolute(value());
                else if (a == "--json")
                    o.json = fs::absolute(value());
                else if (a == "--repeat")
                    o.repeat = std::max(1, std::atoi(value().c_str()));
                else if (a == "--command")
                    o.command = value();
                else if (a == "--keep")
                    o.keep = true;
                else if (a == "--no-forced-writes-off")
                    o.forcedWritesOffVariants = false;
                else
                    return usage();
            }
            if (o.scales.empty() || o.work.empty() || o.app.empty() || o.templ.empty() || o.ftpScript.empty())
                return usage();
            return allMain(o);
        }
        ChildOptions c;
        for (int i = 2; i < argc; ++i) {
            std::string a = argv[i];
            if (i + 1 >= argc)
                return usage();
            std::string v = argv[++i];
            if (a == "--source")
                c.source = v;
            else if (a == "--template")
                c.templ = v;
            else if (a == "--folder")
                c.folder = v;
            else if (a == "--report")
                c.report = v;
            else if (a == "--copies")
                c.copies = split(v);
            else if (a == "--ftp-port")
                c.ftpPort = std::atoi(v.c_str());
            else if (a == "--forced-writes-off")
                c.forcedWritesOff = v == "1";
            else
                return usage();
        }
        if (mode == "window")
            return windowMain(c);
        if (mode == "engine")
            return engineMain(c);
        if (mode == "raw")
            return rawMain(c);
        if (mode == "server-copy")
            return serverCopyMain(c);
        return usage();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vela_bench %s: %s\n", mode.c_str(), e.what());
        return 1;
    }
}
