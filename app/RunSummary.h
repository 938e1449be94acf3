#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

// What an unattended run reports on standard output when it ends: one line for schedulers and for
// people reading a job's mail, e.g.
//   atualizavela-movel: 19 tabelas, 714991 linhas em 25,1 s; enviado 157,2 MB em 3,4 s para
//   ftp.example.com:/www/downloads/CasadoNo/BANCODADOS.gdb; concluído
class RunSummary {
public:
    using Clock = std::chrono::steady_clock;

    void syncBegan(Clock::time_point now);
    void syncEnded(Clock::time_point now);
    void tableStarted(std::string_view title);
    // The next row is a child copy's (a quota's product), not its parent table's.
    void childRowCopied() { childRow_ = true; }
    void rowCopied() {
        ++rows_;
        if (!tables_.empty())
            ++tables_[childRow_ ? child_ : current_].rows;
        childRow_ = false;
    }
    void uploadBegan(Clock::time_point now);
    void bytesSent(std::int64_t bytes) { bytes_ = bytes; }
    // Where the file goes: the server and the remote path, "ftp.example.com:/www/downloads/...".
    void sendingTo(const QString& where) { destination_ = where; }
    void uploadEnded(Clock::time_point now);

    struct Table {
        std::string name; // UTF-8, as its header line names it
        std::int64_t rows = 0;
    };
    // The tables of the synchronization, in the order they began, with the rows copied into each.
    const std::vector<Table>& tableRows() const { return tables_; }
    int tables() const { return static_cast<int>(tables_.size()); }
    std::int64_t rows() const { return rows_; }
    std::int64_t bytes() const { return bytes_; }

    // failure empty: the run succeeded. A step still running is measured up to now.
    QString line(const QString& failure, Clock::time_point now) const;

private:
    struct Span {
        bool began = false;
        bool ended = false;
        Clock::time_point from, to;
        double seconds(Clock::time_point now) const;
    };

    size_t entry(std::string_view title);

    std::vector<Table> tables_;
    size_t current_ = 0, child_ = 0;
    bool childRow_ = false;
    std::int64_t rows_ = 0;
    std::int64_t bytes_ = 0;
    QString destination_;
    Span sync_, upload_;
};

// One decimal after a comma, as the program's users write numbers: 25,1.
QString decimalComma(double value);
// 157,2 MB; 12 B.
QString byteSize(double bytes);

} // namespace vela
