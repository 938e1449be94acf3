// The benchmark driver. bench/run builds it and calls
//
//   vela_bench all --scale ROWS:BACKOFFICE.fdb [--scale ...] --work DIR --app EXE --template VAZIO.GDB
//                  --ftp-server SCRIPT [--repeat K] [--json OUT] [--command TEXT]
//
// which, for each back office, runs on it: the unattended program end to end, and once more with
// its upload refused so that only its start-up and step 1 count; the window's step 1
// in process (offscreen, with its run log, gauge and events) and its upload; the same copies with a
// host that does nothing; the raw copy limit; Firebird's server-side copy; and curl's upload of
// the same file. Every one of them is a child process of its own (vela_bench window|engine|raw|
// server-copy ...), so each starts from the same state and has its own peak memory.
//
// Processes.cpp starts and times the children and the FTP server, Measure.cpp runs the rounds of
// measurements on one back office, the children are in *Child.cpp, and Results.cpp writes the report.

#include "bench/Children.h"
#include "bench/Measure.h"
#include "bench/Results.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace vela::bench;

namespace {

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
            !sc.binaryStep1->ok() || !sc.countsMatch)
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
