#include "bench/Results.h"

#include "bench/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace vela::bench {

double ratio(double a, double b) {
    return (a > 0 && b > 0) ? a / b : NAN;
}

namespace {

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

// The raw loop run with the mobile file's forced writes as the engine-alone run had them.
const Measured& engineBaseline(const Scale& sc) {
    return sc.rawAsync ? *sc.rawAsync : *sc.raw;
}

} // namespace

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
    line("unattended, upload refused (start-up, step 1)", sc.binaryStep1, sc.binaryStep1->exit.seconds,
         sc.binaryStep1->exit.cpuSeconds);
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
    if (sc.rawAsync) {
        std::printf("  window step 1 / raw loop with forced writes off: %.2f\n",
                    ratio(win, sc.rawAsync->report.number("seconds")));
        std::printf("  unattended binary without a display: peak memory %.1f MB; processor time of its start-up and "
                    "step 1 / raw loop with forced writes off: %.2f (least of each: %.2f s / %.2f s)\n",
                    sc.binary->exit.peakRssKiB / 1024.0, ratio(sc.binaryStep1CpuSeconds, sc.rawAsyncCpuSeconds),
                    sc.binaryStep1CpuSeconds, sc.rawAsyncCpuSeconds);
    }
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
    std::printf("  published file: %.1f MB, %.1f bytes per copied row; Firebird's backup restored with every page "
                "filled: %.1f MB; published / restored %.3f\n",
                sc.publishedBytes / 1e6, ratio(static_cast<double>(sc.publishedBytes), static_cast<double>(n)),
                sc.restoreFloorBytes / 1e6,
                ratio(static_cast<double>(sc.publishedBytes), static_cast<double>(sc.restoreFloorBytes)));
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
    // The unattended program as a scheduled run has it, without a display: its whole process's peak
    // memory, and the processor time of a run whose upload is refused at once (start-up and step 1)
    // over the raw loop's with forced writes off, the least of each one's runs.
    j.num("binary_peak_rss_mb", top.binary->exit.peakRssKiB / 1024.0, 1);
    if (top.rawAsync)
        j.num("binary_step1_to_raw_fw_off_cpu_ratio", ratio(top.binaryStep1CpuSeconds, top.rawAsyncCpuSeconds));
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
    // The file every device downloads against the least Firebird makes of the same rows.
    j.num("published_to_restore_floor_ratio",
          ratio(static_cast<double>(top.publishedBytes), static_cast<double>(top.restoreFloorBytes)));
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
        figure("binary_step1", sc.binaryStep1, sc.binaryStep1->exit.seconds, sc.binaryStep1->exit.cpuSeconds);
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
              perRowUs(sc.engine->report.number("cpu_seconds") - engineBaseline(sc).report.number("cpu_seconds"), rows),
              2);
        j.num("run_to_raw_ratio", ratio(sc.window->report.number("seconds"), sc.raw->report.number("seconds")));
        if (sc.rawAsync) {
            j.num("run_to_raw_fw_off_ratio",
                  ratio(sc.window->report.number("seconds"), sc.rawAsync->report.number("seconds")));
            j.num("binary_step1_to_raw_fw_off_cpu_ratio", ratio(sc.binaryStep1CpuSeconds, sc.rawAsyncCpuSeconds));
        }
        j.num("window_overhead_us_per_row",
              perRowUs(sc.window->report.number("seconds") - sc.engine->report.number("seconds"), rows), 2);
        j.num("engine_overhead_us_per_row",
              perRowUs(sc.engine->report.number("seconds") - engineBaseline(sc).report.number("seconds"), rows), 2);
        j.integer("published_bytes", sc.publishedBytes);
        j.integer("restore_floor_bytes", sc.restoreFloorBytes);
        j.num("published_bytes_per_copied_row",
              ratio(static_cast<double>(sc.publishedBytes), static_cast<double>(rows)), 1);
        j.num("published_to_restore_floor_ratio",
              ratio(static_cast<double>(sc.publishedBytes), static_cast<double>(sc.restoreFloorBytes)));
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

} // namespace vela::bench
