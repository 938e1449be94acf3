// The two steps: the synchronization into the emptied mobile database, and its upload.
#include "app/principal.h"

#include "app/Maquinas.h"
#include "app/MobileBuild.h"
#include "common/Error.h"
#include "db/ModuloDadosCadastro.h"
#include "sync/CopyRules.h"
#include "sync/Tables.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include <cerrno>
#include <fstream>
#include <optional>

namespace vela {

namespace {

QString text(const std::exception& e) {
    return QString::fromUtf8(e.what());
}

// The busy pointer while the database is worked on, and no second step started from inside one.
// Disabling the buttons moves the focus on to a text field; it comes back to the step's button, so
// the next key pressed does not replace a path.
class StepGuard {
public:
    StepGuard(TfrmPrincipal& w, QPushButton* starter, RunProgress::Step step) : w_(w), starter_(starter) {
        w_.progress().stepBegan(step);
        w_.Button5->setEnabled(false);
        w_.Button3->setEnabled(false);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~StepGuard() {
        QApplication::restoreOverrideCursor();
        w_.Button5->setEnabled(true);
        w_.Button3->setEnabled(true);
        starter_->setFocus(Qt::OtherFocusReason);
        w_.progress().stepEnded();
    }

private:
    TfrmPrincipal& w_;
    QPushButton* starter_;
};

// The company's trade name, NOMEFANTASIA of the first row; empty without a row or for NULL.
std::string nomeFantasia(TDMSistemaCadastro& dm) {
    Query& empresa = dm.FDQueryEmpresa;
    empresa.close();
    empresa.open();
    return empresa.eof() ? std::string() : std::string(readString(empresa.row(), empresa.field("NOMEFANTASIA")));
}

} // namespace

// ---- step 1: the synchronization run ----------------------------------------------------------

void TfrmPrincipal::readMaquinas() {
    if (!QFileInfo::exists(QStringLiteral("maquinas.txt")))
        return;
    QString path = settings_.maquinasPath();
    std::ifstream in(QFile::encodeName(path).constData(), std::ios::binary);
    if (!in)
        throw fileError("open", path.toStdString(), errno);
    // Only as far as the first line end: the rest of the file is never needed.
    std::string bytes;
    char chunk[4096];
    while (bytes.find_first_of("\r\n") == std::string::npos && in.read(chunk, sizeof chunk).gcount() > 0)
        bytes.append(chunk, static_cast<size_t>(in.gcount()));
    Edit2->setText(QString::fromStdString(sourcePathFromMaquinas(bytes, QDir::separator().toLatin1())));
}

void TfrmPrincipal::Button1Click() {
    dm_->FDConnectionBancoMovel.close();
    dm_->FDConnectionBancoVela.close();
    build_.emplace(Edit1->text());
    const bool copied = build_->copyFrom(settings_.templatePath());
    appendLine(copied ? QStringLiteral("Banco Vazio pronto para Sincronização") : QStringLiteral("Erro ao Copiar"));
    appendLine(settings_.templatePath());
    appendLine(Edit1->text());
    if (!copied)
        build_->copyPrevious();
    dm_->FDConnectionBancoMovel.setParam("Database", QFile::encodeName(build_->path()).toStdString());
    dm_->FDConnectionBancoMovel.open();
    dm_->FDConnectionBancoVela.setParam("Database", Edit2->text().toStdString());
    dm_->FDConnectionBancoVela.open();
}

void TfrmPrincipal::closeStep() noexcept {
    // Whatever the step opened is closed, so that an idle window holds no database file: a
    // scheduled run beside it opens the back office in embedded mode, and the upload opens the
    // mobile file alone. An unpublished build goes once nothing has it open.
    try {
        dm_->release();
    } catch (const std::exception& e) {
        appendLine(text(e));
    }
    dm_->FDConnectionBancoMovel.setParam("Database", QFile::encodeName(Edit1->text()).toStdString());
    build_.reset();
}

bool TfrmPrincipal::runStep1() {
    StepGuard guard(*this, Button5, RunProgress::Step::Sync);
    Run run(*this);
    if (!run)
        return false;
    struct Close {
        TfrmPrincipal& w;
        ~Close() { w.closeStep(); }
    } close{*this};
    try {
        readMaquinas();
        Button1Click();
        appendLine(QStringLiteral("INICIO SINCRONIZAÇÃO"));
        dm_->FDConnectionBancoVela.setParam("Database", Edit2->text().toStdString());
        dm_->FDConnectionBancoVela.open();
        dm_->FDTransactionBancoMovel.start();
    } catch (const std::exception& e) {
        errorBox(text(e));
        return false;
    }
    try {
        sincronizaTabelas(*dm_, *this, build_->forcedWrites());
        // A stop that came after the last row is still a stop: the build is not published.
        if (stopping())
            throw Error("Execução interrompida.");
        build_->publish();
    } catch (const std::exception& e) {
        failAndEnd(text(e));
        return false;
    }
    log_.flush();
    return true;
}

void TfrmPrincipal::Button5Click() {
    runStep1();
}

// ---- step 2: the upload -----------------------------------------------------------------------

bool TfrmPrincipal::runStep2() {
    StepGuard guard(*this, Button3, RunProgress::Step::Upload);
    Run run(*this);
    if (!run)
        return false;
    struct Close {
        TfrmPrincipal& w;
        ~Close() { w.closeStep(); }
    } close{*this};
    std::optional<UploadStep> upload;
    try {
        upload.emplace(*this, ftpSettings(settings_), QFile::encodeName(Edit1->text()).toStdString());
        upload->measure();
    } catch (const std::exception& e) {
        errorBox(text(e));
        return false;
    }
    try {
        upload->connect();
    } catch (const std::exception& e) {
        appendLine(text(e));
        stopSilently();
        return false;
    }
    std::string tradeName;
    try {
        tradeName = nomeFantasia(*dm_);
    } catch (const std::exception& e) {
        upload->close();
        errorBox(text(e));
        return false;
    }
    try {
        lastUpload_ = upload->send(tradeName);
    } catch (const std::exception& e) {
        failAndEnd(text(e));
        return false;
    }
    log_.flush();
    return true;
}

void TfrmPrincipal::Button3Click() {
    runStep2();
}

} // namespace vela
