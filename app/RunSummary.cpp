#include "app/RunSummary.h"

#include <QStringList>

#include <cmath>

namespace vela {

namespace {

// The quota copy empties both quota tables and fills the products of each quota under its own
// header; a run without quotas still leaves the products table emptied and ready, so it counts
// with the quotas.
constexpr std::string_view kQuotas = "CotaNegociação";
constexpr std::string_view kQuotaProducts = "ProdutoCotaNegociação";

QString plural(std::int64_t n, const char* one, const char* many) {
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

} // namespace

QString decimalComma(double value) {
    QString s = QString::number(value, 'f', 1);
    s.replace(QLatin1Char('.'), QLatin1Char(','));
    return s;
}

QString byteSize(double bytes) {
    static const char* const units[] = {"kB", "MB", "GB", "TB"};
    if (bytes < 1024)
        return QString::number(static_cast<std::int64_t>(bytes)) + QLatin1String(" B");
    int unit = -1;
    while (bytes >= 1024 && unit + 1 < 4) {
        bytes /= 1024;
        ++unit;
    }
    return decimalComma(bytes) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

double RunSummary::Span::seconds(Clock::time_point now) const {
    if (!began)
        return 0;
    return std::chrono::duration<double>((ended ? to : now) - from).count();
}

void RunSummary::syncBegan(Clock::time_point now) {
    sync_ = {true, false, now, now};
    // A synchronization run again from the window counts anew.
    tables_.clear();
    rows_ = 0;
}

void RunSummary::syncEnded(Clock::time_point now) {
    sync_.ended = true;
    sync_.to = now;
}

size_t RunSummary::entry(std::string_view title) {
    for (size_t i = 0; i < tables_.size(); ++i)
        if (tables_[i].name == title)
            return i;
    tables_.push_back({std::string(title), 0});
    return tables_.size() - 1;
}

void RunSummary::tableStarted(std::string_view title) {
    // The products of each quota begin under a header of their own between the quotas' rows, which
    // go on counting for the quotas.
    if (title == kQuotaProducts) {
        child_ = entry(title);
        return;
    }
    current_ = entry(title);
    if (title == kQuotas)
        child_ = entry(kQuotaProducts);
}

void RunSummary::uploadBegan(Clock::time_point now) {
    upload_ = {true, false, now, now};
}

void RunSummary::uploadEnded(Clock::time_point now) {
    if (!upload_.began || upload_.ended)
        return;
    upload_.ended = true;
    upload_.to = now;
}

QString RunSummary::line(const QString& failure, Clock::time_point now) const {
    QString s = QStringLiteral("atualizavela-movel: ") + plural(tables(), "tabela", "tabelas") + QLatin1String(", ") +
                plural(rows_, "linha", "linhas") + QLatin1String(" em ") + decimalComma(sync_.seconds(now)) +
                QLatin1String(" s; ");
    if (upload_.began)
        s += QLatin1String("enviado ") + byteSize(static_cast<double>(bytes_)) + QLatin1String(" em ") +
             decimalComma(upload_.seconds(now)) + QLatin1String(" s") +
             (destination_.isEmpty() ? QString() : QLatin1String(" para ") + destination_) + QLatin1String("; ");
    if (failure.isEmpty())
        return s + QStringLiteral("concluído");
    // One line: a client's message of several lines is joined.
    return s + QLatin1String("falhou: ") + failure.split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
}

} // namespace vela
