#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace vela {

// What an unattended run reports on standard output when it ends: one line for schedulers and for
// people reading a job's mail, e.g.
//   atualizavela-movel: 19 tabelas, 714991 linhas em 25,1 s; enviado 157,2 MB em 3,4 s; concluído
class RunSummary {
public:
    using Clock = std::chrono::steady_clock;

    void syncBegan(Clock::time_point now);
    void syncEnded(Clock::time_point now);
    void tableStarted(std::string_view title);
    void rowCopied() { ++rows_; }
    void uploadBegan(Clock::time_point now);
    void bytesSent(std::int64_t bytes) { bytes_ = bytes; }
    void uploadEnded(Clock::time_point now);

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

    std::set<std::string, std::less<>> tables_;
    std::int64_t rows_ = 0;
    std::int64_t bytes_ = 0;
    Span sync_, upload_;
};

// One decimal after a comma, as the program's users write numbers: 25,1.
QString decimalComma(double value);
// 157,2 MB; 12 B.
QString byteSize(double bytes);

} // namespace vela
