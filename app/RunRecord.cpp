// What a run leaves behind: the run log file, the record of the run, the textfile, the exit status.
#include "app/RunRecord.h"

#include "app/RunLog.h"
#include "common/Error.h"
#include "common/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>
#include <memory>
#include <openssl/evp.h>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vela {

namespace {

// As the record names each RunOutcome, in its order.
constexpr const char* kOutcomeNames[] = {"published", "failed", "stopped", "refused"};

void report(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

// Locks a file of ours for as long as fd stays open, waiting through interruptions.
bool lockFile(int fd, int how) {
    int rc;
    while ((rc = ::flock(fd, how)) != 0 && errno == EINTR) {
    }
    return rc == 0;
}

// The run log file's temporary file beside it, locked while this run writes it: a run that meets it
// in the folder knows it is no leftover (removeLeftoverLogs). One deleted between its creation and
// its lock is made again.
UniqueFd temporaryLog(QByteArray& name, const QByteArray& path) {
    for (;;) {
        name = path + ".XXXXXX";
        UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
        // Where the file system locks nothing, the file is written unlocked all the same.
        if (!fd || !lockFile(fd.get(), LOCK_EX))
            return fd;
        struct stat status;
        if (::fstat(fd.get(), &status) != 0 || status.st_nlink > 0)
            return fd;
    }
}

// Writes the run log file from the log's pieces as they come, under a temporary name in its folder
// that is renamed over the old file once the whole text is on disk: a crash or a full disk leaves
// the previous log, never half of one.
std::optional<QString> writeLog(const QString& path, RunLog& log) {
    auto failure = [&path](int error) {
        return QString::fromUtf8(fileError("create", path.toStdString(), error).what());
    };
    QByteArray temporary;
    UniqueFd fd = temporaryLog(temporary, QFile::encodeName(path));
    if (!fd)
        return failure(errno);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    int error = ::fchmod(fd.get(), 0666 & ~mask) == 0 ? 0 : errno;
    try {
        log.writeContent([&](std::string_view bytes) {
            if (error == 0 && !writeAll(fd.get(), bytes))
                error = errno;
        });
    } catch (const std::exception& e) {
        ::unlink(temporary.constData());
        return QString::fromUtf8(e.what());
    }
    if (error == 0 && ::fsync(fd.get()) != 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temporary.constData());
    // Closed after the rename: the lock keeps the file from looking like a leftover until then.
    if (const int closed = fd.close(); closed != 0 && error == 0)
        error = closed;
    if (error != 0)
        return failure(error);
    return std::nullopt;
}

// Local time with its offset from UTC: 2024-05-02T02:30:00.125-03:00.
QString isoTime(const QDateTime& time) {
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// Writes a file of the monitor's under a temporary name, renamed over the old one once whole.
void writeWhole(const QString& path, const QByteArray& bytes, std::optional<QFileDevice::Permissions> mode = {}) {
    QSaveFile out(path);
    const bool written = out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() &&
                         (!mode || out.setPermissions(*mode)) && out.commit();
    if (!written)
        report(QStringLiteral("Cannot create file \"%1\". %2").arg(path, out.errorString()));
}

// A Prometheus label value: backslash, double quote and line end escaped.
QString labelValue(QString text) {
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('"'), QLatin1String("\\\""));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return text;
}

const QString kLastSuccess = QStringLiteral("atualizavela_movel_last_success_timestamp_seconds");

// The last success the textfile at path holds (a run that failed keeps it); 0 when none.
double previousSuccess(const QString& path) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return 0;
    while (!in.atEnd()) {
        const QString line = QString::fromUtf8(in.readLine()).trimmed();
        if (line.startsWith(kLastSuccess + QLatin1Char('{')))
            return line.section(QLatin1Char(' '), -1).toDouble();
    }
    return 0;
}

} // namespace

int exitStatusOf(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Published:
        return kExitDone;
    case RunOutcome::Refused:
        return kExitLocked;
    case RunOutcome::Failed:
    case RunOutcome::Stopped:
        break;
    }
    return kExitFailed;
}

RunRecord::~RunRecord() {
    dropDigest();
}

RunRecord::Digest RunRecord::digestOf(const QString& path, const std::atomic<bool>& cancel) {
    Digest d;
    QFile in(path);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> sha256(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (sha256 && EVP_DigestInit_ex(sha256.get(), EVP_sha256(), nullptr) == 1 && in.open(QIODevice::ReadOnly)) {
        QByteArray chunk;
        while (!cancel.load(std::memory_order_relaxed) && !(chunk = in.read(1 << 20)).isEmpty())
            EVP_DigestUpdate(sha256.get(), chunk.constData(), static_cast<size_t>(chunk.size()));
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (in.error() == QFileDevice::NoError && in.atEnd() &&
            EVP_DigestFinal_ex(sha256.get(), digest, &length) == 1) {
            d.bytes = in.size();
            d.sha256 = QString::fromLatin1(
                QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length)).toHex());
            return d;
        }
    }
    d.error = QStringLiteral("Cannot read file \"%1\". %2").arg(path, in.errorString());
    return d;
}

void RunRecord::published(const QString& path, bool uploadFollows) {
    dropDigest();
    if (uploadFollows)
        digestMeanwhile(path);
}

void RunRecord::digestMeanwhile(const QString& path) {
    if (digest_.valid() && digestPath_ == path)
        return;
    dropDigest();
    digestPath_ = path;
    // A 160 MB database takes a second or more to digest: done while the upload sends it.
    digest_ = std::async(std::launch::async, digestOf, path, std::cref(cancelDigest_));
}

RunRecord::Digest RunRecord::digest(const QString& path) {
    if (digest_.valid() && digestPath_ == path)
        return digest_.get();
    dropDigest();
    return digestOf(path, cancelDigest_);
}

void RunRecord::dropDigest() {
    if (digest_.valid()) {
        cancelDigest_ = true;
        digest_.wait();
        digest_ = {};
    }
    cancelDigest_ = false;
}

void RunRecord::begin() {
    dropDigest();
    started_ = QDateTime::currentDateTime();
    clock_.start();
    outcome_ = RunOutcome::Published;
    message_.clear();
    step_ = 0;
    synced_ = false;
    upload_.reset();
}

void RunRecord::stepBegan(RunStep step) {
    step_ = step == RunStep::Sync ? 1 : 2;
    if (step == RunStep::Sync)
        synced_ = true;
}

void RunRecord::failed(RunOutcome outcome, const QString& message) {
    outcome_ = outcome;
    message_ = message;
    status_ = worseExit(status_, exitStatusOf(outcome));
}

void RunRecord::uploaded(const UploadResult& result, const QString& remotePath) {
    upload_ = Upload{result, remotePath};
}

QString RunRecord::logFilePath() const {
    return settings_.logFilePath();
}

QString RunRecord::recordPath() const {
    return QFileInfo(logFilePath()).dir().filePath(QLatin1String(kRecordFileName));
}

std::optional<QString> RunRecord::saveLog(RunLog& log) const {
    return writeLog(logFilePath(), log);
}

void RunRecord::removeLeftoverLogs() const {
    const QFileInfo log(logFilePath());
    QDir folder = log.dir();
    // mkostemp's six letters or digits after the log's name, as writeLog makes them.
    const QRegularExpression temporary(QStringLiteral("^") + QRegularExpression::escape(log.fileName()) +
                                       QStringLiteral("\\.[A-Za-z0-9]{6}$"));
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!temporary.match(name).hasMatch())
            continue;
        const QByteArray path = QFile::encodeName(folder.filePath(name));
        // One whose writer still lives is locked: a run of another mobile folder saving its log
        // in this folder too.
        const UniqueFd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        struct stat status;
        if (fd && ::fstat(fd.get(), &status) == 0 && S_ISREG(status.st_mode) && lockFile(fd.get(), LOCK_EX | LOCK_NB))
            ::unlink(path.constData());
    }
}

void RunRecord::write(const RunSummary& summary, const QString& publishedFile) {
    const QDateTime ended = QDateTime::currentDateTime();
    const double seconds = static_cast<double>(clock_.nsecsElapsed()) / 1e9;
    const int status = exitStatusOf(outcome_);
    QJsonObject record{
        {QStringLiteral("version"), QStringLiteral(VELA_VERSION)},
        {QStringLiteral("started"), isoTime(started_)},
        {QStringLiteral("ended"), isoTime(ended)},
        {QStringLiteral("seconds"), seconds},
        {QStringLiteral("result"), QLatin1String(kOutcomeNames[static_cast<int>(outcome_)])},
        {QStringLiteral("exit_status"), status},
        {QStringLiteral("step"), step_},
        {QStringLiteral("message"), message_},
    };
    QJsonArray tables;
    std::int64_t rows = 0;
    if (synced_) {
        for (const RunSummary::Table& t : summary.tableRows())
            tables.append(QJsonObject{{QStringLiteral("name"), QString::fromStdString(t.name)},
                                      {QStringLiteral("rows"), static_cast<qint64>(t.rows)}});
        rows = summary.rows();
    }
    record.insert(QStringLiteral("tables"), tables);
    record.insert(QStringLiteral("rows"), static_cast<qint64>(rows));
    QJsonValue file = QJsonValue::Null;
    if (outcome_ == RunOutcome::Published && step_ > 0 && !upload_ && !digest_.valid()) {
        file = QJsonObject{{QStringLiteral("bytes"), QFileInfo(publishedFile).size()},
                           {QStringLiteral("sha256"), QJsonValue::Null}};
    } else if (outcome_ == RunOutcome::Published && step_ > 0) {
        const Digest d = digest(publishedFile);
        if (d.bytes >= 0)
            file = QJsonObject{{QStringLiteral("bytes"), d.bytes}, {QStringLiteral("sha256"), d.sha256}};
        else
            report(d.error);
    } else {
        dropDigest();
    }
    record.insert(QStringLiteral("file"), file);
    QJsonValue upload = QJsonValue::Null;
    if (upload_) {
        const double sent = upload_->result.seconds;
        upload = QJsonObject{
            {QStringLiteral("seconds"), sent},
            {QStringLiteral("bytes_per_second"), sent > 0 ? static_cast<double>(upload_->result.bytes) / sent : 0.0},
            {QStringLiteral("protocol"),
             settings_.ftpProtocol == AppSettings::Protocol::Sftp ? QStringLiteral("sftp") : QStringLiteral("ftp")},
            {QStringLiteral("host"), settings_.ftpHost},
            {QStringLiteral("remote_path"), upload_->remotePath},
        };
    }
    record.insert(QStringLiteral("upload"), upload);
    writeWhole(recordPath(), QJsonDocument(record).toJson());
    if (!settings_.metricsFile.isEmpty())
        writeMetrics(ended, seconds, rows, status);
}

// The node_exporter textfile: one company's gauges, which its textfile collector reads from its
// folder (metrics_file=/var/lib/prometheus/node-exporter/<company>.prom).
void RunRecord::writeMetrics(const QDateTime& ended, double seconds, std::int64_t rows, int exitStatus) const {
    const double endedAt = static_cast<double>(ended.toMSecsSinceEpoch()) / 1000;
    const double lastSuccess = outcome_ == RunOutcome::Published ? endedAt : previousSuccess(settings_.metricsFile);
    // The instance's name, the INI's: the same for every run of one company, whatever it fails at.
    const QString company =
        settings_.file.isEmpty() ? QStringLiteral("atualizavela-movel") : QFileInfo(settings_.file).completeBaseName();
    const QString label = QStringLiteral("{company=\"%1\"} ").arg(labelValue(company));
    QString text;
    auto gauge = [&](const char* name, const char* help, const QString& value) {
        const QString metric = QStringLiteral("atualizavela_movel_") + QLatin1String(name);
        text += QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n").arg(metric, QLatin1String(help));
        text += metric + label + value + QLatin1Char('\n');
    };
    gauge("last_run_timestamp_seconds", "When the last run ended, in seconds since the epoch.",
          QString::number(endedAt, 'f', 3));
    gauge("last_success_timestamp_seconds",
          "When the last run that published ended, in seconds since the epoch; 0 when none is known.",
          QString::number(lastSuccess, 'f', 3));
    gauge("last_run_duration_seconds", "How long the last run took.", QString::number(seconds, 'f', 3));
    gauge("last_run_rows", "Rows the last run copied into the mobile database.", QString::number(rows));
    gauge("last_run_bytes", "Bytes the last run sent to the publishing server.",
          QString::number(upload_ ? upload_->result.bytes : 0));
    gauge("last_run_exit_status", "The exit status of the last run: 0 published, 1 failed or stopped, 3 refused.",
          QString::number(exitStatus));
    // Read by the collector's account, not only by this program's.
    writeWhole(settings_.metricsFile, text.toUtf8(),
               QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
}

} // namespace vela
