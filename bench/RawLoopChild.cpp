// The raw loop child: the copy limit, a minimal prepared-INSERT loop over the Firebird API into a
// copy of the template, the same rows as the table copies, no log, gauge or events.
#include "bench/Catalogue.h"
#include "bench/ChildSupport.h"
#include "bench/Children.h"

namespace vela::bench {

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
                fb::Handle<Firebird::IMessageMetadata> meta(select->getOutputMetadata(&st));
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
    return finishChild(rep, mobilePath, o);
}

} // namespace vela::bench
