#pragma once

#include "app/RunController.h"
#include "app/RunView.h"
#include "app/Settings.h"

#include <QWidget>

#include <chrono>
#include <string_view>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vela {

class Gauge;
class TDMSistemaCadastro;

// The main window: the two steps as buttons, the gauge and the run log. The run itself is its
// RunController's; the window shows it and pumps events at the points the run offers.
class TfrmPrincipal : public QWidget, public RunView {
public:
    explicit TfrmPrincipal(const AppSettings& settings, QWidget* parent = nullptr);
    ~TfrmPrincipal() override;

    void setDataModule(TDMSistemaCadastro* dm) { run_.setDataModule(dm); }

    QLabel* Label1;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QPushButton* Button5;
    QPushButton* Button3;
    Gauge* Gauge1;
    QPlainTextEdit* Memo1;
    QPushButton* Button1;

    RunController& run() { return run_; }
    RunLog& runLog() { return run_.log(); }
    // The run as the table copies and the upload see it.
    operator CopyHost&() { return run_; }

    void FormShow();
    void Button5Click() { run_.runStep1(); }
    void Button1Click() { run_.prepareDatabases(); }
    void Button3Click() { run_.runStep2(); }

    // RunView
    void setGaugePosition(int position) override;
    void setGaugeMaximum(int maximum) override;
    void stepGauge() override;
    const GaugeValue& gauge() const override;
    void showProgress(const QString& what) override;
    bool attended() const override { return !headless_; }
    void showFailure(const QString& message) override;
    void dismissFailure() override;
    void processEvents() override;
    void betweenCalls() override;
    void stepBegan(RunStep step) override;
    void stepEnded(RunStep step) override;
    void closeView() override { close(); }
    QPlainTextEdit* logBox() override { return Memo1; }
    QString sourcePath() const override;
    void setSourcePath(const QString& path) override;
    QString mobilePath() const override;

    // Progress the table copies report, as they report it to the run.
    void tableStarted(std::string_view title) { run_.tableStarted(title); }
    void rowCopied() { run_.rowCopied(); }
    void childRowCopied(std::int64_t rows, std::int64_t total) { run_.childRowCopied(rows, total); }

    void appendLine(const QString& line) { run_.appendLine(line); }
    QString logFilePath() const { return run_.logFilePath(); }
    bool saveLog() { return run_.saveLog(); }

    bool ended() const { return run_.ended(); }
    int exitCode() const { return run_.exitCode(); }
    bool headless() const { return headless_; }
    // The last message shown in (or, headless, instead of) the error box.
    const QString& lastError() const { return run_.lastError(); }
    // Whether nobody can answer a box here; decided from the platform, set by tests that answer.
    void setHeadless(bool headless) { headless_ = headless; }
    RunProgress& progress() { return run_.progress(); }
    // Bytes and seconds of the last upload that succeeded.
    const UploadResult& lastUpload() const { return run_.lastUpload(); }
    void requestStop() { run_.requestStop(); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool shown_ = false;
    bool headless_ = false;
    RunController run_;
    static constexpr std::chrono::microseconds kSystemEventsInterval{1000};
    std::chrono::steady_clock::time_point systemEventsAt_{};
};

} // namespace vela
