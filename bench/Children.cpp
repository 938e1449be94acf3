// The measuring children of the benchmark. Each runs in a process of its own (so its memory and
// its engine state are its own) on its own copy of the template, and writes a Report.

#include "bench/Children.h"

#include "app/Gauge.h"
#include "app/Startup.h"
#include "app/principal.h"
#include "bench/Catalogue.h"
#include "sync/TableCopier.h"
#include "db/Connection.h"
#include "common/Cp1252.h"
#include "common/Error.h"
#include "db/ModuloDadosCadastro.h"
#include "db/Statement.h"
#include "db/Transaction.h"

#include <QApplication>
#include <QEvent>
#include <QPlainTextEdit>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <pthread.h>
#include <sstream>
#include <sys/resource.h>
#include <thread>

namespace fs = std::filesystem;

namespace vela::bench {

// ---- report --------------------------------------------------------------------------------

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

// ---- shared --------------------------------------------------------------------------------

std::vector<std::string> mobileTables() {
    std::vector<std::string> out;
    for (const CopyEntry& e : catalogue())
        for (std::string_view t : e.mobileTables)
            out.emplace_back(t);
    return out;
}

std::map<std::string, long long> countRows(const std::string& database, const std::vector<std::string>& tables) {
    Connection c("count", {"Database=" + database, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
    std::map<std::string, long long> out;
    for (const std::string& t : tables) {
        Query q(c, "count " + t, "select count(*) from " + t);
        q.open();
        out[t] = q.eof() ? 0 : q.row().getInt64(0);
        q.close();
    }
    c.close();
    return out;
}

std::pair<long, long> memoryKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    long hwm = 0, rss = 0;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            hwm = std::atol(line.c_str() + 6);
        else if (line.rfind("VmRSS:", 0) == 0)
            rss = std::atol(line.c_str() + 6);
    }
    return {hwm, rss};
}

namespace {

void copyTemplate(const std::string& templ, const std::string& target) {
    fs::create_directories(fs::path(target).parent_path());
    fs::copy_file(templ, target, fs::copy_options::overwrite_existing);
}

bool included(const ChildOptions& o, std::string_view name) {
    if (o.copies.empty())
        return true;
    for (const std::string& c : o.copies)
        if (c == name)
            return true;
    return false;
}

// User and system time of the whole process, the embedded engine's threads included.
double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The template copy, with the disk writes of the database left to the system: what the run would
// cost if it switched forced writes off while it fills the file.
void forcedWritesOff(const std::string& database) {
    std::string command = std::string(VELA_GFIX) + " -write async '" + database + "' -user SYSDBA -password quillfern";
    if (std::system(command.c_str()) != 0)
        throw Error("failed: " + command);
}

void shutdownEngine() {
    Firebird::IProvider* provider = fb::master()->getDispatcher();
    try {
        fb::Status st;
        provider->shutdown(&st, 0, fb_shutrsn_app_stopped);
    } catch (...) {
    }
    provider->release();
}

// ---- the window --------------------------------------------------------------------------

// The window as the program has it; the two overrides only note the time of each table copy's
// header line and count the event rounds, then do exactly what the window does.
class BenchWindow : public TfrmPrincipal {
public:
    using TfrmPrincipal::TfrmPrincipal;

    struct Mark {
        const CopyEntry* copy;
        Clock::time_point at;
    };
    std::vector<Mark> marks;
    long long eventRounds = 0;

    void appendLog(std::string_view line) override {
        // Header lines begin with five asterisks; per-row lines never do.
        if (!line.empty() && line[0] == '*') {
            for (size_t i = 0; i < headers().size(); ++i)
                if (line == headers()[i])
                    marks.push_back({&catalogue()[i], Clock::now()});
        }
        TfrmPrincipal::appendLog(line);
    }
    void processEvents() override {
        ++eventRounds;
        TfrmPrincipal::processEvents();
    }

private:
    static const std::vector<std::string>& headers() {
        static const std::vector<std::string> h = [] {
            std::vector<std::string> out;
            for (const CopyEntry& e : catalogue())
                out.push_back(cp1252::fromUtf8(e.header));
            return out;
        }();
        return h;
    }
};

// A call of the database layer (a statement, a transaction, a connection).
bool isDatabaseCall(const std::string& call) {
    for (const char* c : {"vela::Query::", "vela::Statement::", "vela::Command::", "vela::Transaction::",
                          "vela::Connection::", "vela::InsertCursor::", "vela::TDMSistemaCadastro::"})
        if (call.rfind(c, 0) == 0)
            return true;
    return false;
}

// Notes when the run log box and the gauge are painted.
class PaintClock : public QObject {
public:
    std::vector<Clock::time_point> paints;
    std::atomic<Clock::rep> last{0};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            paints.push_back(Clock::now());
            last = paints.back().time_since_epoch().count();
        }
        return QObject::eventFilter(watched, event);
    }
};

// Finds out what the window's thread is doing while nothing is painted: after 100 ms without a
// paint, a thread of its own interrupts it every 50 ms and keeps its stack; the call a stack is
// in is read afterwards from the program's own symbols (vela_bench links with -rdynamic).
class StallSampler {
public:
    struct Sample {
        Clock::time_point at;
        std::array<void*, 48> frames{};
        int depth = 0;
    };

    explicit StallSampler(PaintClock& paints) : paints_(paints), target_(pthread_self()) {
        // backtrace loads its unwinder on first use, which must not happen inside the handler.
        void* warm[4];
        backtrace(warm, 4);
        struct sigaction sa {};
        sa.sa_handler = [](int) {
            Sample* s = current_.load();
            if (s) {
                s->depth = backtrace(s->frames.data(), static_cast<int>(s->frames.size()));
                current_ = nullptr;
            }
        };
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        sigaction(kSignal, &sa, &previous_);
        samples_.resize(kMaxSamples);
        watcher_ = std::thread([this] { watch(); });
    }
    ~StallSampler() { stop(); }

    void stop() {
        if (!watcher_.joinable())
            return;
        stop_ = true;
        watcher_.join();
        sigaction(kSignal, &previous_, nullptr);
        samples_.resize(taken_);
    }
    const std::vector<Sample>& samples() const { return samples_; }

    // The innermost call of the program's own code in a stack, with the table copy step it
    // serves ("vela::Query::open() in vela::TableCopier::openSource()").
    static std::string call(const Sample& s) {
        char** symbols = backtrace_symbols(s.frames.data(), s.depth);
        std::vector<std::string> ours;
        for (int i = 0; i < s.depth && symbols; ++i) {
            std::string text = symbols[i];
            size_t open = text.find('('), plus = text.find('+', open);
            if (open == std::string::npos || plus == std::string::npos)
                continue;
            std::string mangled = text.substr(open + 1, plus - open - 1);
            int status = 0;
            char* name = abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status);
            std::string demangled = status == 0 && name ? name : mangled;
            std::free(name);
            if (demangled.rfind("vela::", 0) == 0 && demangled.find("StallSampler") == std::string::npos &&
                demangled.find("fb::Status") == std::string::npos)
                ours.push_back(demangled);
        }
        std::free(symbols);
        if (ours.empty())
            return "outside the program's code";
        std::string out = ours.front();
        for (size_t i = 1; i < ours.size(); ++i)
            if (ours[i].find("TableCopier::") != std::string::npos || ours[i].find("sincroniza") != std::string::npos ||
                ours[i].find("TfrmPrincipal::") != std::string::npos) {
                if (ours[i] != out)
                    out += " in " + ours[i];
                break;
            }
        return out;
    }

private:
    static constexpr int kSignal = SIGURG;
    static constexpr size_t kMaxSamples = 4000;

    void watch() {
        Clock::time_point lastSample{};
        while (!stop_ && taken_ < kMaxSamples) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            auto now = Clock::now();
            Clock::time_point painted{Clock::duration(paints_.last.load())};
            if (paints_.last.load() == 0 || now - painted < std::chrono::milliseconds(100) ||
                now - lastSample < std::chrono::milliseconds(50))
                continue;
            Sample& s = samples_[taken_];
            s.at = now;
            current_ = &s;
            pthread_kill(target_, kSignal);
            for (int i = 0; i < 200 && current_.load(); ++i)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            if (current_.exchange(nullptr))
                continue; // not answered: no sample
            ++taken_;
            lastSample = now;
        }
    }

    PaintClock& paints_;
    pthread_t target_;
    struct sigaction previous_ {};
    std::vector<Sample> samples_;
    size_t taken_ = 0;
    std::atomic<bool> stop_{false};
    std::thread watcher_;
    static inline std::atomic<Sample*> current_{nullptr};
};

} // namespace

int windowMain(const ChildOptions& o) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    choosePlainEventLoop(); // as the program does
    static char name[] = "atualizavela-movel";
    static char* argv[] = {name, nullptr};
    int argc = 1;
    Report rep;
    int code = 0;
    {
        QApplication app(argc, argv);
        QApplication::setApplicationName(QStringLiteral("atualizavela-movel"));
        AppSettings settings;
        settings.mobileFolder = QString::fromStdString(o.folder + "/movel");
        settings.sourceDatabase = QString::fromStdString(o.source);
        settings.ftpHost = QStringLiteral("127.0.0.1");
        settings.ftpPort = o.ftpPort ? o.ftpPort : 21;
        copyTemplate(o.templ, settings.templatePath().toStdString());
        if (o.forcedWritesOff)
            forcedWritesOff(settings.templatePath().toStdString());

        BenchWindow w(settings);
        auto dm = std::make_unique<TDMSistemaCadastro>(
            TDMSistemaCadastro::Paths{o.source, settings.mobilePath().toStdString()});
        w.setDataModule(dm.get());
        w.show();
        QCoreApplication::processEvents();
        PaintClock paints;
        w.Memo1->viewport()->installEventFilter(&paints);
        w.Gauge1->installEventFilter(&paints);

        StallSampler sampler(paints);
        auto t0 = Clock::now();
        paints.last = t0.time_since_epoch().count();
        double c0 = cpuSeconds();
        w.Button5Click();
        auto t1 = Clock::now();
        sampler.stop();
        auto [hwm, rss] = memoryKiB();
        rep.set("seconds", seconds(t0, t1));
        rep.set("cpu_seconds", cpuSeconds() - c0);
        rep.set("peak_rss_kib_after_run", static_cast<double>(hwm));
        rep.set("rss_kib_after_run", static_cast<double>(rss));
        rep.set("event_rounds", static_cast<double>(w.eventRounds));
        rep.set("ended", w.ended() ? "1" : "0");
        if (w.ended()) {
            rep.set("error",
                    w.lastError().isEmpty() ? w.runLog().lines().last().toStdString() : w.lastError().toStdString());
            code = 1;
        }
        if (!w.marks.empty())
            rep.set("setup_seconds", seconds(t0, w.marks.front().at));
        for (size_t i = 0; i < w.marks.size(); ++i) {
            auto end = i + 1 < w.marks.size() ? w.marks[i + 1].at : t1;
            rep.table(std::string(w.marks[i].copy->name), seconds(w.marks[i].at, end));
        }
        // Stretches without a repaint of the log or the gauge during the run: the longest, the table
        // copy it fell in and how far into that copy it began, and how many exceeded 100 ms.
        double worst = 0;
        std::string where;
        long long stalls = 0;
        double stalled = 0;
        Clock::time_point prev = t0;
        // Each gap over 250 ms is named by the calls the window's thread was found in during it; a
        // gap where every sample shows the same database call is inside that one call.
        std::string longGaps;
        long long longGapCount = 0, longGapsElsewhere = 0;
        auto consider = [&](Clock::time_point at) {
            double gap = seconds(prev, at);
            if (gap > 0.1) {
                ++stalls;
                stalled += gap;
            }
            if (gap > 0.25) {
                ++longGapCount;
                std::vector<std::string> calls;
                for (const auto& sample : sampler.samples())
                    if (sample.at > prev && sample.at < at)
                        calls.push_back(StallSampler::call(sample));
                bool single = !calls.empty() && std::all_of(calls.begin(), calls.end(), [&](const std::string& c) {
                    return c == calls.front() && isDatabaseCall(c);
                });
                if (!single)
                    ++longGapsElsewhere;
                std::string table = "setup";
                for (const auto& m : w.marks)
                    if (m.at <= prev)
                        table = std::string(m.copy->name);
                char head[64];
                std::snprintf(head, sizeof head, "%.0f ms in %s: ", gap * 1000.0, table.c_str());
                longGaps += (longGaps.empty() ? "" : "; ") + std::string(head);
                if (single)
                    longGaps += calls.front();
                else {
                    // The calls in the order met, each with its samples (50 ms apart).
                    longGaps += "not one database call:";
                    for (size_t i = 0; i < calls.size();) {
                        size_t j = i;
                        while (j < calls.size() && calls[j] == calls[i])
                            ++j;
                        longGaps += " [" + calls[i] + " x" + std::to_string(j - i) + "]";
                        i = j;
                    }
                }
            }
            if (gap > worst) {
                worst = gap;
                where = "setup";
                for (const auto& m : w.marks)
                    if (m.at <= prev) {
                        char offset[32];
                        std::snprintf(offset, sizeof offset, " at +%.2f s", seconds(m.at, prev));
                        where = std::string(m.copy->name) + offset;
                    }
            }
            prev = at;
        };
        long long paintsDuring = 0;
        for (auto p : paints.paints)
            if (p >= t0 && p <= t1) {
                consider(p);
                ++paintsDuring;
            }
        consider(t1);
        rep.set("paints", static_cast<double>(paintsDuring));
        rep.set("max_paint_gap_ms", worst * 1000.0);
        rep.set("max_paint_gap_in", where);
        rep.set("paint_gaps_over_100ms", static_cast<double>(stalls));
        rep.set("paint_gaps_over_100ms_seconds", stalled);
        rep.set("paint_gaps_over_250ms", static_cast<double>(longGapCount));
        rep.set("paint_gaps_over_250ms_not_one_database_call", static_cast<double>(longGapsElsewhere));
        rep.set("paint_gaps_over_250ms_calls", longGaps);

        std::string content = w.runLog().fileContent();
        size_t lines = 0;
        for (size_t at = content.find("\r\n"); at != std::string::npos; at = content.find("\r\n", at + 2))
            ++lines;
        std::ofstream(o.folder + "/logAtualizaVela-Movel.txt", std::ios::binary) << content;
        rep.set("log_bytes", static_cast<double>(content.size()));
        rep.set("log_lines", static_cast<double>(lines));
        content.clear();
        content.shrink_to_fit();

        if (o.ftpPort && !w.ended()) {
            // A few uploads, the fastest counting: a local transfer lasts a fraction of a second.
            double best = -1;
            for (int i = 0; i < 5 && !w.ended(); ++i) {
                auto before = static_cast<long long>(w.runLog().lines().size());
                auto u0 = Clock::now();
                w.Button3Click();
                double secs = seconds(u0, Clock::now());
                QStringList lines = w.runLog().lines();
                rep.set("upload_log_lines", static_cast<double>(lines.size() - before));
                rep.set("upload_last_line", lines.isEmpty() ? std::string() : lines.last().toStdString());
                if (lines.isEmpty() || lines.last() != QStringLiteral("Exportação Concluída."))
                    break;
                if (best < 0 || secs < best)
                    best = secs;
            }
            if (best >= 0)
                rep.set("upload_seconds", best);
        }
        // One whole round of event processing with nothing to do, the system asked: what every row
        // would cost the window if each asked the system (it does so at most every millisecond).
        {
            const int rounds = 100000;
            auto e0 = Clock::now();
            for (int i = 0; i < rounds; ++i)
                QCoreApplication::processEvents();
            rep.set("idle_event_round_us", seconds(e0, Clock::now()) * 1e6 / rounds);
        }
        // What the window costs a row without any database: the calls a table copy makes for each
        // row, alone and together, on a long table and with the gauge reset every 13 rows as the
        // quota products reset it.
        {
            const int rows = 100000;
            const std::string line = cp1252::fromUtf8("Sincronizando Produto: CI0012345");
            auto hostRow = [&](int perTable, bool events, bool log, bool gauge) {
                auto a = Clock::now();
                for (int i = 0; i < rows; ++i) {
                    if (gauge && i % perTable == 0) {
                        w.setGaugePosition(0);
                        w.setGaugeMaximum(perTable);
                    }
                    if (events)
                        w.processEvents();
                    if (log)
                        w.appendLog(line);
                    if (gauge)
                        w.stepGauge();
                }
                // What is still pending is part of the cost; nothing is left for the next loop.
                w.runLog().flush();
                if (events)
                    QCoreApplication::processEvents();
                double us = seconds(a, Clock::now()) * 1e6 / rows;
                QCoreApplication::processEvents();
                return us;
            };
            rep.set("host_events_us", hostRow(rows, true, false, false));
            rep.set("host_log_us", hostRow(rows, false, true, false));
            rep.set("host_gauge_us", hostRow(rows, false, false, true));
            rep.set("host_events_log_us", hostRow(rows, true, true, false));
            rep.set("host_events_gauge_us", hostRow(rows, true, false, true));
            rep.set("host_row_us", hostRow(rows, true, true, true));
            rep.set("host_row_short_tables_us", hostRow(13, true, true, true));
        }
        rep.set("mobile_path", settings.mobilePath().toStdString());
        w.setDataModule(nullptr);
        dm.reset();
    }
    rep.mobileRows = countRows(o.folder + "/movel/Banco/BANCODADOS.gdb", mobileTables());
    rep.write(o.report);
    shutdownEngine();
    return code;
}

// ---- the copy engine with a host that does nothing ----------------------------------------

namespace {

class NullHost : public CopyHost {
public:
    void appendLog(std::string_view) override {}
    void setGaugePosition(int) override {}
    void setGaugeMaximum(int) override {}
    void stepGauge() override {}
    void processEvents() override {}
};

} // namespace

int engineMain(const ChildOptions& o) {
    Report rep;
    std::string mobile = o.folder + "/BANCODADOS.gdb";
    {
        copyTemplate(o.templ, mobile);
        if (o.forcedWritesOff)
            forcedWritesOff(mobile);
        TDMSistemaCadastro dm({o.source, mobile});
        NullHost host;
        auto t0 = Clock::now();
        double c0 = cpuSeconds();
        dm.FDConnectionBancoMovel.open();
        dm.FDConnectionBancoVela.open();
        dm.FDTransactionBancoMovel.start();
        // Each table's time runs to the start of the next; the last one's includes the closing
        // commit, as it does in the window's run.
        std::vector<std::pair<std::string, Clock::time_point>> starts;
        for (const CopyEntry& e : catalogue()) {
            if (included(o, e.name))
                starts.emplace_back(std::string(e.name), Clock::now());
            runTableCopy(*e.copy, dm, host);
        }
        dm.FDConnectionBancoMovel.close();
        auto t1 = Clock::now();
        for (size_t i = 0; i < starts.size(); ++i)
            rep.table(starts[i].first, seconds(starts[i].second, i + 1 < starts.size() ? starts[i + 1].second : t1));
        rep.set("seconds", seconds(t0, t1));
        rep.set("cpu_seconds", cpuSeconds() - c0);
        rep.set("peak_rss_kib_after_run", static_cast<double>(memoryKiB().first));
    }
    rep.mobileRows = countRows(mobile, mobileTables());
    rep.write(o.report);
    shutdownEngine();
    return 0;
}

// ---- the raw baseline ----------------------------------------------------------------------

namespace {

struct Released {
    template <typename T> void operator()(T* p) const {
        if (p)
            p->release();
    }
};

// The column names of a SELECT, prepared on the source.
std::vector<std::string> selectColumns(Connection& source, std::string_view select) {
    fb::Status st;
    Firebird::IStatement* s =
        source.attachment()->prepare(&st, source.statementTransaction().handle(), 0, std::string(select).c_str(),
                                     SQL_DIALECT_V6, Firebird::IStatement::PREPARE_PREFETCH_METADATA);
    std::unique_ptr<Firebird::IMessageMetadata, Released> meta(s->getOutputMetadata(&st));
    std::vector<std::string> names;
    for (unsigned i = 0, n = meta->getCount(&st); i < n; ++i)
        names.emplace_back(meta->getAlias(&st, i));
    s->free(&st);
    return names;
}

std::string join(const std::vector<std::string>& items, const std::string& prefix = {}) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? ", " : "") + prefix + items[i];
    return out;
}

struct Mobile {
    explicit Mobile(const std::string& path)
        : connection("raw mobile", {"Database=" + path, "User_Name=sysdba", "Password=quillfern", "DriverID=IB"}),
          transaction(connection, Transaction::Mode::ReadCommitted) {
        connection.setDefaultTransaction(&transaction);
        connection.open();
        transaction.start();
    }
    Connection connection;
    Transaction transaction;
};

} // namespace

int rawMain(const ChildOptions& o) {
    Report rep;
    std::string mobilePath = o.folder + "/BANCODADOS.gdb";
    copyTemplate(o.templ, mobilePath);
    if (o.forcedWritesOff)
        forcedWritesOff(mobilePath);
    {
        Connection source("raw source",
                          {"Database=" + o.source, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
        Mobile mobile(mobilePath);
        source.open();
        const CopyEntry* last = nullptr;
        for (const CopyEntry& e : catalogue())
            if (included(o, e.name))
                last = &e;
        Clock::time_point lastStart;
        auto t0 = Clock::now();
        double c0 = cpuSeconds();
        for (const CopyEntry& e : catalogue()) {
            if (!included(o, e.name))
                continue;
            auto a = Clock::now();
            // Made durable where the run makes them durable: at the start of the next table.
            mobile.transaction.commitRetaining();
            for (const RawPart& part : e.raw) {
                // The minimal loop: each row fetched into one buffer and inserted from that same
                // buffer, the SELECT's own layout serving as the INSERT's parameters.
                fb::Status st;
                Firebird::ITransaction* readTx = source.statementTransaction().handle();
                Firebird::ITransaction* writeTx = mobile.transaction.handle();
                Firebird::IStatement* select =
                    source.attachment()->prepare(&st, readTx, 0, std::string(part.select).c_str(), SQL_DIALECT_V6,
                                                 Firebird::IStatement::PREPARE_PREFETCH_METADATA);
                std::unique_ptr<Firebird::IMessageMetadata, Released> meta(select->getOutputMetadata(&st));
                std::vector<std::string> names;
                for (unsigned i = 0, n = meta->getCount(&st); i < n; ++i)
                    names.emplace_back(meta->getAlias(&st, i));
                std::string marks;
                for (size_t i = 0; i < names.size(); ++i)
                    marks += i ? ", ?" : "?";
                std::string sql =
                    "INSERT INTO " + std::string(part.mobileTable) + " (" + join(names) + ") VALUES (" + marks + ")";
                Firebird::IStatement* insert =
                    mobile.connection.attachment()->prepare(&st, writeTx, 0, sql.c_str(), SQL_DIALECT_V6, 0);
                std::vector<unsigned char> buffer(meta->getMessageLength(&st));
                Firebird::IResultSet* rows = select->openCursor(&st, readTx, nullptr, nullptr, meta.get(), 0);
                while (rows->fetchNext(&st, buffer.data()) == Firebird::IStatus::RESULT_OK)
                    insert->execute(&st, writeTx, meta.get(), buffer.data(), nullptr, nullptr);
                rows->close(&st);
                insert->free(&st);
                select->free(&st);
            }
            if (&e != last)
                rep.table(std::string(e.name), seconds(a, Clock::now()));
            else
                lastStart = a;
        }
        mobile.transaction.commit();
        auto t1 = Clock::now();
        if (last)
            rep.table(std::string(last->name), seconds(lastStart, t1));
        rep.set("seconds", seconds(t0, t1));
        rep.set("cpu_seconds", cpuSeconds() - c0);
        mobile.connection.close();
        source.close();
    }
    rep.set("peak_rss_kib_after_run", static_cast<double>(memoryKiB().first));
    rep.mobileRows = countRows(mobilePath, mobileTables());
    rep.write(o.report);
    shutdownEngine();
    return 0;
}

// ---- Firebird's own copy -------------------------------------------------------------------

int serverCopyMain(const ChildOptions& o) {
    Report rep;
    std::string mobilePath = o.folder + "/BANCODADOS.gdb";
    copyTemplate(o.templ, mobilePath);
    {
        Connection source("eds source",
                          {"Database=" + o.source, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
        Mobile mobile(mobilePath);
        auto quote = [](std::string_view text) {
            std::string out = "'";
            for (char c : text) {
                out += c;
                if (c == '\'')
                    out += '\'';
            }
            return out + "'";
        };
        // The blocks are written before the clock starts; only their execution is timed.
        struct Block {
            const CopyEntry* copy;
            std::string sql;
        };
        std::vector<Block> blocks;
        for (const CopyEntry& e : catalogue()) {
            if (!included(o, e.name))
                continue;
            for (const RawPart& part : e.raw) {
                std::vector<std::string> names = selectColumns(source, part.select);
                std::string sql = "EXECUTE BLOCK AS\n";
                for (size_t i = 0; i < names.size(); ++i)
                    sql += "  DECLARE V" + std::to_string(i) + " TYPE OF COLUMN " + std::string(part.mobileTable) +
                           "." + names[i] + ";\n";
                std::vector<std::string> vars, into;
                for (size_t i = 0; i < names.size(); ++i) {
                    vars.push_back(":V" + std::to_string(i));
                    into.push_back(":V" + std::to_string(i));
                }
                sql += "BEGIN\n  FOR EXECUTE STATEMENT " + quote(part.select) + "\n    ON EXTERNAL DATA SOURCE " +
                       quote(o.source) + " AS USER 'SYSDBA' PASSWORD 'quillfern'\n    INTO " + join(into) +
                       "\n  DO\n    INSERT INTO " + std::string(part.mobileTable) + " (" + join(names) + ") VALUES (" +
                       join(vars) + ");\nEND";
                blocks.push_back({&e, sql});
            }
        }
        source.close();
        Clock::time_point lastStart;
        auto t0 = Clock::now();
        double c0 = cpuSeconds();
        for (size_t i = 0; i < blocks.size();) {
            const CopyEntry* copy = blocks[i].copy;
            auto a = Clock::now();
            mobile.transaction.commitRetaining();
            for (; i < blocks.size() && blocks[i].copy == copy; ++i) {
                fb::Status st;
                mobile.connection.attachment()->execute(&st, mobile.transaction.handle(), 0, blocks[i].sql.c_str(),
                                                        SQL_DIALECT_V6, nullptr, nullptr, nullptr, nullptr);
            }
            if (i < blocks.size())
                rep.table(std::string(copy->name), seconds(a, Clock::now()));
            else
                lastStart = a;
        }
        mobile.transaction.commit();
        auto t1 = Clock::now();
        if (!blocks.empty())
            rep.table(std::string(blocks.back().copy->name), seconds(lastStart, t1));
        rep.set("seconds", seconds(t0, t1));
        rep.set("cpu_seconds", cpuSeconds() - c0);
        mobile.connection.close();
    }
    rep.set("peak_rss_kib_after_run", static_cast<double>(memoryKiB().first));
    rep.mobileRows = countRows(mobilePath, mobileTables());
    rep.write(o.report);
    shutdownEngine();
    return 0;
}

} // namespace vela::bench
