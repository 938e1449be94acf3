#include "bench/Measure.h"

#include "bench/Catalogue.h"
#include "bench/ChildSupport.h"
#include "common/Cp1252.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace vela::bench {

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

namespace {

const char* const kRemote = "/www/downloads/CasadoNo/BANCODADOS.gdb";

std::string self() {
    return fs::read_symlink("/proc/self/exe").string();
}

// The fastest run that succeeded; the last one when none did.
Measured best(const std::vector<Measured>& runs) {
    const Measured* b = nullptr;
    for (const Measured& m : runs)
        if (m.ok() && (!b || m.report.number("seconds", m.exit.seconds) < b->report.number("seconds", b->exit.seconds)))
            b = &m;
    if (!b && !runs.empty())
        b = &runs.back();
    return b ? *b : Measured{};
}

double leastCpu(const std::vector<Measured>& runs, bool whole) {
    double least = 0;
    for (const Measured& m : runs) {
        double cpu = whole ? m.exit.cpuSeconds : m.report.number("cpu_seconds");
        if (m.ok() && (least == 0 || cpu < least))
            least = cpu;
    }
    return least;
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

// The program itself, unattended and without a display, in a folder of its own with its INI, the
// template and the back office, uploading to 127.0.0.1 at ftpPort.
Measured unattended(Scale& sc, const Options& o, const std::string& dir, int ftpPort, bool expectsFailure) {
    fs::remove_all(dir);
    fs::create_directories(dir + "/movel/Banco");
    fs::copy_file(o.app, dir + "/atualizavela-movel");
    fs::copy_file(o.templ, dir + "/movel/Banco/VAZIO.GDB");
    std::ofstream(dir + "/atualizavela-movel.ini")
        << "[paths]\nmobile_folder=" << dir << "/movel\nsource_database=" << sc.source
        << "\n[ftp]\nhost=127.0.0.1\nport=" << ftpPort << "\n";
    Measured m;
    m.expectsFailure = expectsFailure;
    m.exit = spawn({dir + "/atualizavela-movel", "EXECUTAR"}, dir, dir + "/output.txt", Display::None);
    m.report.set("seconds", m.exit.seconds);
    std::string log = readAll(dir + "/logAtualizaVela-Movel.txt");
    size_t lines = 0;
    for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2))
        ++lines;
    m.report.set("log_lines", static_cast<double>(lines));
    if (!expectsFailure) {
        sc.binaryLogBytes = static_cast<long long>(log.size());
        sc.binaryLog = cp1252::toUtf8(tail(log, 300));
    }
    if (m.ok())
        m.report.mobileRows = countRows(dir + "/movel/Banco/BANCODADOS.gdb", mobileTables());
    else
        std::fprintf(stderr, "  binary failed (exit %d%s): %s\n", m.exit.code, m.exit.timedOut ? ", timed out" : "",
                     tail(readAll(dir + "/output.txt")).c_str());
    return m;
}

// Every way of copying must have written the same rows.
void compareRows(Scale& sc) {
    for (const auto& c : sc.copies) {
        long long w = copyRows(sc.window->report, c);
        for (auto* opt :
             {&sc.binary, &sc.engine, &sc.raw, &sc.server, &sc.windowAsync, &sc.rawAsync, &sc.binaryStep1}) {
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
}

// The upload: the program's (timed inside the window child) and curl's, of the same file.
void compareUploads(Scale& sc, const std::vector<double>& uploads, FtpServer& ftp, const std::string& base) {
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
    fs::remove(ftp.path(kRemote));
}

// The published file against the smallest Firebird makes of the same rows: its backup restored with
// every data page filled.
void measureFile(Scale& sc, const std::string& base) {
    const std::string file = base + "/binary/movel/Banco/BANCODADOS.gdb";
    const std::string backup = base + "/floor.fbk", restored = base + "/floor.fdb";
    std::error_code ec;
    sc.publishedBytes = static_cast<long long>(fs::file_size(file, ec));
    if (ec)
        return;
    fs::remove(backup, ec);
    fs::remove(restored, ec);
    for (const std::vector<std::string>& gbak : {std::vector<std::string>{VELA_GBAK, "-b", file, backup},
                                                 {VELA_GBAK, "-c", "-use_all_space", backup, restored}}) {
        std::vector<std::string> args = gbak;
        args.insert(args.end(), {"-user", "SYSDBA", "-password", "quillfern"});
        if (Exit e = spawn(args, base, base + "/gbak.txt"); e.code != 0) {
            std::fprintf(stderr, "  gbak failed (exit %d): %s\n", e.code, tail(readAll(base + "/gbak.txt")).c_str());
            return;
        }
    }
    sc.restoreFloorBytes = static_cast<long long>(fs::file_size(restored, ec));
    fs::remove(backup, ec);
    fs::remove(restored, ec);
}

} // namespace

void runScale(Scale& sc, const Options& o, FtpServer& ftp) {
    std::string base = o.work + "/" + std::to_string(sc.generated);
    fs::create_directories(base);
    warmUp(sc.source);
    std::printf("\n== %lld generated rows: %s\n", sc.generated, sc.source.c_str());
    std::fflush(stdout);

    // Each round runs every measurement once: a stretch of the shared machine's load then weighs
    // on one run of each, not on all runs of one.
    struct Series {
        const char* what;
        std::vector<Measured> runs;
    };
    Series window{"window, step 1 and upload in process", {}}, engine{"copy engine, host doing nothing", {}},
        raw{"raw prepared-INSERT loop", {}}, server{"server-side copy (EXECUTE STATEMENT ON EXTERNAL DATA SOURCE)", {}},
        windowAsync{"window, step 1, mobile file without forced writes", {}},
        rawAsync{"raw loop, mobile file without forced writes", {}},
        binary{"unattended binary without a display, end to end", {}},
        binaryStep1{"unattended binary without a display, upload refused (start-up and step 1)", {}};
    auto measure = [&](Series& s, int round, auto&& once) {
        std::printf("  %s (%d/%d)...", s.what, round + 1, o.repeat);
        std::fflush(stdout);
        s.runs.push_back(once());
        std::printf(" %.2f s, %.2f cpu s\n", s.runs.back().report.number("seconds", s.runs.back().exit.seconds),
                    s.runs.back().report.number("cpu_seconds", s.runs.back().exit.cpuSeconds));
        std::fflush(stdout);
    };

    std::vector<double> uploads;
    ClosedPort refused;
    for (int round = 0; round < o.repeat; ++round) {
        measure(window, round, [&] {
            fs::remove(ftp.path(kRemote));
            Measured m = child("window", sc.source, o, base + "/window", {}, ftp.port());
            std::error_code ec;
            auto local = fs::file_size(m.report.text("mobile_path"), ec);
            auto sent = fs::file_size(ftp.path(kRemote), ec);
            if (!ec && sent == local && m.report.has("upload_seconds")) {
                uploads.push_back(m.report.number("upload_seconds"));
                sc.uploadBytes = static_cast<long long>(sent);
            }
            return m;
        });
        if (round == 0)
            for (const auto& [name, secs] : window.runs.front().report.tables)
                sc.copies.push_back(name);
        // Step 1 switches the mobile file's forced writes off; the engine alone is measured the same
        // way, so that window minus engine is what the window costs and not the disk's waits.
        measure(engine, round, [&] {
            return child("engine", sc.source, o, base + "/engine", sc.copies, 0, o.forcedWritesOffVariants);
        });
        measure(raw, round, [&] { return child("raw", sc.source, o, base + "/raw", sc.copies); });
        measure(server, round, [&] { return child("server-copy", sc.source, o, base + "/server", sc.copies); });
        if (o.forcedWritesOffVariants) {
            measure(windowAsync, round,
                    [&] { return child("window", sc.source, o, base + "/window-async", {}, 0, true); });
            measure(rawAsync, round,
                    [&] { return child("raw", sc.source, o, base + "/raw-async", sc.copies, 0, true); });
        }
        measure(binary, round, [&] {
            fs::remove(ftp.path(kRemote));
            return unattended(sc, o, base + "/binary", ftp.port(), false);
        });
        measure(binaryStep1, round, [&] { return unattended(sc, o, base + "/binary-step1", refused.port(), true); });
    }
    sc.window = best(window.runs);
    sc.engine = best(engine.runs);
    sc.raw = best(raw.runs);
    sc.server = best(server.runs);
    if (o.forcedWritesOffVariants) {
        sc.windowAsync = best(windowAsync.runs);
        sc.rawAsync = best(rawAsync.runs);
        sc.rawAsyncCpuSeconds = leastCpu(rawAsync.runs, false);
    }
    sc.binary = best(binary.runs);
    sc.binaryStep1 = best(binaryStep1.runs);
    sc.binaryStep1CpuSeconds = leastCpu(binaryStep1.runs, true);
    for (const auto& c : sc.copies)
        sc.rowsCopied += copyRows(sc.window->report, c);

    compareRows(sc);
    compareUploads(sc, uploads, ftp, base);
    measureFile(sc, base);
    if (!o.keep)
        for (const char* d :
             {"/window", "/engine", "/raw", "/server", "/binary", "/binary-step1", "/window-async", "/raw-async"})
            fs::remove_all(base + d);
}

} // namespace vela::bench
