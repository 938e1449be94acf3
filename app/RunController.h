#pragma once

#include "app/MobileBuild.h"
#include "app/RunLock.h"
#include "app/RunLog.h"
#include "app/RunProgress.h"
#include "app/RunRecord.h"
#include "app/RunView.h"
#include "app/Settings.h"
#include "common/StopToken.h"
#include "publish/UploadStep.h"
#include "sync/CopyHost.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

namespace vela {

class TDMSistemaCadastro;

// A run of the program, with or without a window: the settings, the data module, the run lock, the
// run log, the two steps and the unattended sequence, what a failure does and the stop. What it shows
// goes to its view; what it leaves behind (the run log file, the record, the exit status), to its
// RunRecord. The table copies and the upload report to it.
class RunController : public CopyHost, public UploadHost {
public:
    RunController(const AppSettings& settings, RunView& view);
    RunController(const RunController&) = delete;
    RunController& operator=(const RunController&) = delete;

    void setDataModule(TDMSistemaCadastro* dm) { dm_ = dm; }
    const AppSettings& settings() const { return settings_; }

    // Step 1 (synchronization) and step 2 (upload); false when the step did not complete.
    bool runStep1();
    bool runStep2();
    // Both steps, the log saved and the program ended, without anybody at the window.
    void runUnattended();
    // Empties the mobile database from the template beside the published one and opens both
    // connections on it and on the back office.
    void prepareDatabases();

    RunLog& log() { return log_; }
    void appendLine(const QString& line) { log_.append(line); }
    QString logFilePath() const { return record_.logFilePath(); }
    // Writes the run log file; a failure is shown as "Cannot create file ...".
    bool saveLog();

    bool ended() const { return record_.ended(); }
    int exitCode() const { return record_.exitStatus(); }
    const RunRecord& record() const { return record_; }
    bool unattended() const { return unattended_; }
    const QString& lastError() const { return lastError_; }
    RunProgress& progress() { return progress_; }
    const UploadResult& lastUpload() const { return lastUpload_; }

    // A signal to stop: ends a running step through its failure path at its next row or progress
    // report, and an idle program as a close of its window would.
    void requestStop();
    // The window is being closed: false while a step runs (which then stops and ends the program).
    bool closing();

    // CopyHost and UploadHost
    void appendLog(std::string_view line) override {
        log_.appendCp1252(line);
        view_.appendLog(line);
    }
    void setGaugePosition(int position) override { view_.setGaugePosition(position); }
    void setGaugeMaximum(int maximum) override { view_.setGaugeMaximum(maximum); }
    void stepGauge() override { view_.stepGauge(); }
    void processEvents() override { view_.processEvents(); }
    void betweenCalls() override;
    void tableStarted(std::string_view title) override { progress_.tableStarted(title); }
    void rowCopied() override { progress_.rowCopied(); }
    void childRowCopied(std::int64_t rows, std::int64_t total) override { progress_.childRowCopied(rows, total); }
    bool showsCounts() const override { return view_.showsGauge() || progress_.onTerminal(); }
    void uploadBegan(std::int64_t) override { progress_.uploadBegan(); }
    void uploadProgress(std::int64_t bytesSoFar, std::int64_t) override { progress_.bytesSent(bytesSoFar); }
    const StopToken* stopToken() const override { return &stop_; }

private:
    // Held by each step and across the unattended sequence: one run at a time per mobile database,
    // and a stop asked meanwhile ends the program once the run is left.
    class Run {
    public:
        explicit Run(RunController& c);
        ~Run();
        Run(const Run&) = delete;
        Run& operator=(const Run&) = delete;
        explicit operator bool() const { return held_; }

    private:
        RunController& c_;
        bool held_ = false;
        bool outer_ = false; // not inside another: the unattended sequence, or a step from the window
    };
    class StepShown;

    bool stopping();
    void readMaquinas();
    void closeStep() noexcept;

    // Failed or stopped, as the stop says.
    RunOutcome failure();
    // Notes the failure for the record, the summary and the error box, and says it on standard error.
    void reportFailure(RunOutcome outcome, const QString& message);
    void errorBox(const QString& message);
    // A run refused before it began (another run holds the lock): reported, and no file touched.
    void refuse(const QString& message);
    void failAndEnd(const QString& message);
    // The message as the saved log's last line, and the program ended.
    void endWithLog(const QString& message);
    // A failure to reach the server: logged; the window goes on, an unattended run ends.
    void stopSilently(const QString& message);
    // The run published: the log saved, saying where, and the program ended.
    void publishedAndEnd();
    void endProgram();

    AppSettings settings_;
    RunView& view_;
    TDMSistemaCadastro* dm_ = nullptr;
    std::optional<MobileBuild> build_;
    UploadResult lastUpload_;
    RunLog log_;
    RunProgress progress_;
    RunRecord record_{settings_};
    bool unattended_ = false;
    QString lastError_;
    RunLock runLock_{settings_.mobilePath()};
    int running_ = 0;
    StopToken stop_;
};

// Whether the program was started to run unattended (EXECUTAR, in any case, as first argument).
bool unattendedArgument();

} // namespace vela
