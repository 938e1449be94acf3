// The two steps: the synchronization into the emptied mobile database, and its upload.
#include "app/RunController.h"

#include "app/Maquinas.h"
#include "app/MobileBuild.h"
#include "common/Error.h"
#include "db/ModuloDadosCadastro.h"
#include "publish/RemotePath.h"
#include "sync/CopyRules.h"
#include "sync/Tables.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>
#include <string>
#include <string_view>

namespace vela {

namespace {

QString text(const std::exception& e) {
    return QString::fromUtf8(e.what());
}

// The company's trade name, NOMEFANTASIA of the first row (empty without a row or for NULL), and
// its TID.
std::pair<std::string, std::int64_t> nomeFantasia(TDMSistemaCadastro& dm) {
    Query& empresa = dm.FDQueryEmpresa;
    empresa.close();
    empresa.open();
    if (empresa.eof())
        return {};
    return {std::string(readString(empresa.row(), empresa.field("NOMEFANTASIA"))),
            empresa.row().getInt64(empresa.field("TID"))};
}

} // namespace

// Shown as a step in the view (the buttons off, the busy pointer) from its start to its end.
class RunController::StepShown {
public:
    StepShown(RunController& c, RunStep step) : c_(c), step_(step) {
        c_.progress_.stepBegan(step);
        c_.view_.stepBegan(step);
    }
    ~StepShown() {
        c_.view_.stepEnded(step_);
        c_.progress_.stepEnded();
    }
    StepShown(const StepShown&) = delete;
    StepShown& operator=(const StepShown&) = delete;

private:
    RunController& c_;
    RunStep step_;
};

// ---- step 1: the synchronization run ----------------------------------------------------------

void RunController::readMaquinas() {
    if (!QFileInfo::exists(QStringLiteral("maquinas.txt")))
        return;
    QString path = settings_.maquinasPath();
    // A stop is obeyed between the chunks read.
    const std::string line = readMaquinasLine(QFile::encodeName(path).toStdString(), [this] { stop_.check(); });
    view_.setSourcePath(QString::fromStdString(sourcePathFromMaquinas(line, QDir::separator().toLatin1())));
}

void RunController::prepareDatabases() {
    dm_->FDConnectionBancoMovel.close();
    dm_->FDConnectionBancoVela.close();
    build_.emplace(view_.mobilePath());
    const bool copied = build_->copyFrom(settings_.templatePath());
    appendLine(copied ? QStringLiteral("Banco Vazio pronto para Sincronização") : QStringLiteral("Erro ao Copiar"));
    appendLine(settings_.templatePath());
    appendLine(view_.mobilePath());
    if (!copied)
        build_->copyPrevious();
    dm_->FDConnectionBancoMovel.setParam("Database", QFile::encodeName(build_->path()).toStdString());
    dm_->FDConnectionBancoMovel.open();
    dm_->FDConnectionBancoVela.setParam("Database", view_.sourcePath().toStdString());
    dm_->FDConnectionBancoVela.open();
}

void RunController::closeStep() noexcept {
    // Whatever the step opened is closed, so that an idle window holds no database file: a
    // scheduled run beside it opens the back office in embedded mode, and the upload opens the
    // mobile file alone. An unpublished build goes once nothing has it open.
    if (!dm_)
        return;
    try {
        dm_->release();
    } catch (const std::exception& e) {
        appendLine(text(e));
    }
    dm_->FDConnectionBancoMovel.setParam("Database", QFile::encodeName(view_.mobilePath()).toStdString());
    build_.reset();
}

bool RunController::runStep1() {
    StepShown shown(*this, RunStep::Sync);
    Run run(*this);
    if (!run)
        return false;
    record_.stepBegan(RunStep::Sync);
    try {
        readMaquinas();
        prepareDatabases();
        appendLine(QStringLiteral("INICIO SINCRONIZAÇÃO"));
        dm_->FDConnectionBancoVela.setParam("Database", view_.sourcePath().toStdString());
        dm_->FDConnectionBancoVela.open();
        dm_->FDTransactionBancoMovel.start();
    } catch (const std::exception& e) {
        errorBox(text(e));
        return false;
    }
    try {
        sincronizaTabelas(*dm_, *this, build_->forcedWrites(), build_->reserveSpace());
        // A stop that came after the last row is still a stop: the build is not published.
        if (stopping())
            stop_.check();
        build_->publish();
    } catch (const std::exception& e) {
        failAndEnd(text(e));
        return false;
    }
    record_.published(view_.mobilePath(), unattended_);
    log_.flush();
    return true;
}

// ---- step 2: the upload -----------------------------------------------------------------------

bool RunController::runStep2() {
    StepShown shown(*this, RunStep::Upload);
    Run run(*this);
    if (!run)
        return false;
    record_.stepBegan(RunStep::Upload);
    std::optional<UploadStep> upload;
    try {
        upload.emplace(*this, uploadSettings(settings_), QFile::encodeName(view_.mobilePath()).toStdString());
        upload->measure();
        record_.digestMeanwhile(view_.mobilePath());
    } catch (const std::exception& e) {
        errorBox(text(e));
        return false;
    }
    try {
        upload->connect();
    } catch (const std::exception& e) {
        stopSilently(text(e));
        return false;
    }
    std::pair<std::string, std::int64_t> tradeName;
    try {
        tradeName = nomeFantasia(*dm_);
    } catch (const std::exception& e) {
        upload->close();
        errorBox(text(e));
        return false;
    }
    try {
        progress_.sendingTo(settings_.ftpHost + QLatin1Char(':') +
                            QString::fromStdString(remotePath(tradeName.first)));
        lastUpload_ = upload->send(tradeName.first, tradeName.second);
    } catch (const std::exception& e) {
        failAndEnd(text(e));
        return false;
    }
    record_.uploaded(lastUpload_, QString::fromStdString(remotePath(tradeName.first)));
    log_.flush();
    return true;
}

} // namespace vela
