// The window child: step 1 of the window as the program has it, offscreen, with its run log, gauge
// and events; then its upload, an idle event round and the window's calls alone.
#include "bench/Catalogue.h"
#include "bench/ChildSupport.h"
#include "bench/Children.h"
#include "bench/RepaintGaps.h"

#include "app/Gauge.h"
#include "app/Startup.h"
#include "app/principal.h"
#include "common/Cp1252.h"
#include "db/ModuloDadosCadastro.h"

#include <QApplication>
#include <QPlainTextEdit>

#include <fstream>
#include <memory>

namespace vela::bench {

namespace {

// The window as the program has it; the two overrides only note the time of each table copy's
// header line and count the event rounds, then do exactly what the window does.
class BenchWindow : public TfrmPrincipal {
public:
    using TfrmPrincipal::TfrmPrincipal;

    std::vector<CopyMark> marks;
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
        reportRepaintGaps(rep, paints, sampler, w.marks, t0, t1);

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
                        w.run().appendLog(line);
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
    fb::shutdownEngine();
    return code;
}
} // namespace vela::bench
