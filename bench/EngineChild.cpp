// The engine child: the program's eighteen table copies with a host that does nothing (no log, gauge
// or events), so that the window's step 1 minus this is what the window costs.
#include "bench/Catalogue.h"
#include "bench/ChildSupport.h"
#include "bench/Children.h"

#include "db/ModuloDadosCadastro.h"
#include "sync/TableCopier.h"

namespace vela::bench {

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
        // As step 1 writes the file: no forced writes, its pages filled.
        if (o.forcedWritesOff)
            forcedWritesOff(mobile, true);
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
    return finishChild(rep, mobile, o);
}

} // namespace vela::bench
