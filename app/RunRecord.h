#pragma once

#include "app/ExitStatus.h"
#include "app/RunSummary.h"
#include "app/RunView.h"
#include "app/Settings.h"
#include "publish/UploadStep.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <future>
#include <optional>

namespace vela {

class RunLog;

// How a run ended, as its record and its exit status say.
enum class RunOutcome { Published, Failed, Stopped, Refused };

// What a run leaves for whoever looks after the program: the run log file, the record of the run
// beside it ("atualizavela-movel.json", for a monitor), a node_exporter textfile where
// [paths] metrics_file names one, and the program's exit status. A run is the unattended sequence,
// or one step run from the window; each one that got past the settings leaves its record when it
// ends, a run refused by the lock included.
class RunRecord {
public:
    static constexpr const char* kRecordFileName = "atualizavela-movel.json";

    explicit RunRecord(const AppSettings& settings) : settings_(settings) {}
    ~RunRecord();
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;

    // A run begins: what the previous one recorded is forgotten; the program's exit status stays.
    void begin();
    void stepBegan(RunStep step);
    // The run ends this way, message saying why; a later failure replaces an earlier one, as in the
    // summary line.
    void failed(RunOutcome outcome, const QString& message);
    RunOutcome outcome() const { return outcome_; }
    // Step 1 published the file at path. With upload to follow (the unattended sequence) its digest
    // is taken meanwhile, beside the upload, for the record; a step 1 run from the window alone is
    // recorded without one, which would hold the window a second at the end of a large step.
    void published(const QString& path, bool uploadFollows);
    // The upload of the file at path begins: its digest is taken meanwhile, unless it already is.
    void digestMeanwhile(const QString& path);
    // The server has the file, under remotePath.
    void uploaded(const UploadResult& result, const QString& remotePath);
    bool uploaded() const { return upload_.has_value(); }
    // Writes the record and the textfile, each under a temporary name renamed over the last one;
    // summary: the run's counts; publishedFile: the file a run that published leaves behind. A record
    // that cannot be written goes to standard error; it changes neither the run nor its exit status.
    void write(const RunSummary& summary, const QString& publishedFile);

    QString logFilePath() const;
    QString recordPath() const;
    // Writes the run log file whole or not at all; the failure's message, or nothing.
    std::optional<QString> saveLog(RunLog& log) const;
    // Deletes the run log's temporary files that a killed run left in the log folder. Call under the
    // run lock.
    void removeLeftoverLogs() const;

    // The program ends: its exit status is the worst of its runs' (ExitStatus.h).
    void end() { ended_ = true; }
    bool ended() const { return ended_; }
    int exitStatus() const { return status_; }

private:
    struct Digest {
        qint64 bytes = -1; // -1: the file could not be read, error says why
        QString sha256;
        QString error;
    };
    static Digest digestOf(const QString& path, const std::atomic<bool>& cancel);
    Digest digest(const QString& path);
    void dropDigest();
    void writeMetrics(const QDateTime& ended, double seconds, std::int64_t rows, int exitStatus) const;

    const AppSettings& settings_;
    QDateTime started_;
    QElapsedTimer clock_;
    RunOutcome outcome_ = RunOutcome::Published;
    QString message_;
    int step_ = 0; // 0: none begun, 1: the synchronization, 2: the upload
    bool synced_ = false;
    struct Upload {
        UploadResult result;
        QString remotePath;
    };
    std::optional<Upload> upload_;
    QString digestPath_;
    std::atomic<bool> cancelDigest_{false};
    std::future<Digest> digest_;
    bool ended_ = false;
    int status_ = kExitDone;
};

// The exit status of a run that ended this way.
int exitStatusOf(RunOutcome outcome);

} // namespace vela
