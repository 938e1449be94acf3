#include "bench/ChildSupport.h"

#include "bench/Catalogue.h"
#include "common/Error.h"
#include "db/Firebird.h"
#include "db/Statement.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>

namespace fs = std::filesystem;

namespace vela::bench {

std::vector<std::string> mobileTables() {
    std::vector<std::string> out;
    for (const CopyEntry& e : catalogue())
        for (std::string_view t : e.mobileTables)
            out.emplace_back(t);
    return out;
}

std::map<std::string, long long> countRows(const std::string& database, const std::vector<std::string>& tables) {
    // No garbage-collector thread for the count: its shutdown at the detach was seen to hang a child.
    Connection c("count", {"Database=" + database, "User_Name=sysdba", "Password=quillfern", "DriverID=FB",
                           "GCPolicy=cooperative"});
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

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void forcedWritesOff(const std::string& database, bool pagesFull) {
    std::vector<std::string> settings{"-write async"};
    if (pagesFull)
        settings.emplace_back("-use full");
    for (const std::string& setting : settings) {
        std::string command =
            std::string(VELA_GFIX) + " " + setting + " '" + database + "' -user SYSDBA -password quillfern";
        if (std::system(command.c_str()) != 0)
            throw Error("failed: " + command);
    }
}

std::vector<std::string> selectColumns(Connection& source, std::string_view select) {
    fb::Status st;
    Firebird::IStatement* s =
        source.attachment()->prepare(&st, source.statementTransaction().handle(), 0, std::string(select).c_str(),
                                     SQL_DIALECT_V6, Firebird::IStatement::PREPARE_PREFETCH_METADATA);
    fb::Handle<Firebird::IMessageMetadata> meta(s->getOutputMetadata(&st));
    std::vector<std::string> names;
    for (unsigned i = 0, n = meta->getCount(&st); i < n; ++i)
        names.emplace_back(meta->getAlias(&st, i));
    s->free(&st);
    return names;
}

std::string join(const std::vector<std::string>& items, const std::string& prefix) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? ", " : "") + prefix + items[i];
    return out;
}

Mobile::Mobile(const std::string& path)
    : connection("raw mobile", {"Database=" + path, "User_Name=sysdba", "Password=quillfern", "DriverID=IB"}),
      transaction(connection, Transaction::Mode::ReadCommitted) {
    connection.setDefaultTransaction(&transaction);
    connection.open();
    transaction.start();
}

int finishChild(Report& rep, const std::string& mobilePath, const ChildOptions& o) {
    if (!rep.has("peak_rss_kib_after_run"))
        rep.set("peak_rss_kib_after_run", static_cast<double>(memoryKiB().first));
    rep.mobileRows = countRows(mobilePath, mobileTables());
    rep.write(o.report);
    fb::shutdownEngine();
    return 0;
}

} // namespace vela::bench
