#pragma once

#include "app/MobileBuild.h"
#include "app/RunLock.h"
#include "app/RunLog.h"
#include "app/RunProgress.h"
#include "app/Settings.h"
#include "publish/UploadStep.h"
#include "sync/CopyHost.h"

#include <QWidget>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vela {

class Gauge;
class TDMSistemaCadastro;

// The main window: the two steps as buttons, the gauge and the run log. The table copies are its
// methods; they borrow the data module's objects. Step 2 runs publish/'s UploadStep.
class TfrmPrincipal : public QWidget, public CopyHost, public UploadHost {
public:
    explicit TfrmPrincipal(const AppSettings& settings, QWidget* parent = nullptr);
    ~TfrmPrincipal() override;

    void setDataModule(TDMSistemaCadastro* dm) { dm_ = dm; }

    QLabel* Label1;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QPushButton* Button5;
    QPushButton* Button3;
    Gauge* Gauge1;
    QPlainTextEdit* Memo1;
    QPushButton* Button1;

    RunLog& runLog() { return log_; }

    void FormShow();
    void Button5Click();
    void Button1Click();
    void Button3Click();

    // CopyHost and UploadHost
    void appendLog(std::string_view line) override;
    void setGaugePosition(int position) override;
    void setGaugeMaximum(int maximum) override;
    void stepGauge() override;
    void processEvents() override;
    void tableStarted(std::string_view title) override { progress_.tableStarted(title); }
    void rowCopied() override { progress_.rowCopied(); }
    void childRowCopied(std::int64_t rows, std::int64_t total) override { progress_.childRowCopied(rows, total); }
    void betweenCalls() override;
    void uploadBegan(std::int64_t) override { progress_.uploadBegan(); }
    void uploadProgress(std::int64_t bytesSoFar, std::int64_t) override { progress_.bytesSent(bytesSoFar); }

    void appendLine(const QString& line);
    QString logFilePath() const;
    // Writes the run log file; a failure shows "Cannot create file ..." in the error box.
    bool saveLog();

    bool ended() const { return ended_; }
    int exitCode() const { return exitCode_; }
    bool headless() const { return headless_; }
    // The last message shown in (or, headless, instead of) the error box.
    const QString& lastError() const { return lastError_; }
    // Whether nobody can answer a box here; decided from the platform, set by tests that answer.
    void setHeadless(bool headless) { headless_ = headless; }
    RunProgress& progress() { return progress_; }
    // Bytes and seconds of the last upload that succeeded.
    const UploadResult& lastUpload() const { return lastUpload_; }

    // A signal to stop: ends a running step through its failure path at its next row or progress
    // report, and an idle program as a close of the window would.
    void requestStop();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Held by each step and across the unattended sequence: one run at a time per mobile database,
    // and a stop asked meanwhile ends the program once the run is left.
    class Run {
    public:
        explicit Run(TfrmPrincipal& w);
        ~Run();
        Run(const Run&) = delete;
        Run& operator=(const Run&) = delete;
        explicit operator bool() const { return held_; }

    private:
        TfrmPrincipal& w_;
        bool held_ = false;
    };

    bool stopping();

    void readMaquinas();
    bool runStep1();
    bool runStep2();
    void closeStep() noexcept;

    void errorBox(const QString& message);
    // A run refused before it began (another run holds the lock): reported, and no file touched.
    void refuse(const QString& message);
    void failAndEnd(const QString& message);
    void stopSilently();
    void endProgram(int code);

    AppSettings settings_;
    TDMSistemaCadastro* dm_ = nullptr;
    std::optional<MobileBuild> build_;
    UploadResult lastUpload_;
    RunLog log_;
    RunProgress progress_;
    bool shown_ = false;
    bool unattended_ = false;
    bool headless_ = false;
    bool ended_ = false;
    int exitCode_ = 0;
    QString lastError_;
    RunLock runLock_{settings_.mobilePath()};
    int running_ = 0;
    bool stopAsked_ = false;
    bool failed_ = false; // a failure was shown: the program ends with 1 however it ends
    static constexpr std::chrono::microseconds kSystemEventsInterval{1000};
    std::chrono::steady_clock::time_point systemEventsAt_{};
};

} // namespace vela
