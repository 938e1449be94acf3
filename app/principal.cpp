#include "app/principal.h"

#include "app/Gauge.h"
#include "app/Maquinas.h"
#include "app/NormalCursor.h"
#include "app/Startup.h"
#include "app/TemplateCopy.h"
#include "common/Error.h"
#include "db/ModuloDadosCadastro.h"
#include "publish/UploadStep.h"
#include "sync/CopyRules.h"
#include "sync/Tables.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <unistd.h>

namespace vela {

namespace {

const char* const kLogFileName = "logAtualizaVela-Movel.txt";

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

std::optional<QString> writeFile(const QString& path, const std::string& bytes) {
    QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return QStringLiteral("Cannot create file \"%1\". %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            QString reason = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            return QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason);
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0)
        return QStringLiteral("Cannot create file \"%1\". %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return std::nullopt;
}

// The company's trade name, NOMEFANTASIA of the first row; empty without a row or for NULL.
std::string nomeFantasia(TDMSistemaCadastro& dm) {
    Query& empresa = dm.FDQueryEmpresa;
    empresa.close();
    empresa.open();
    return empresa.eof() ? std::string() : std::string(readString(empresa.row(), empresa.field("NOMEFANTASIA")));
}

} // namespace

TfrmPrincipal::TfrmPrincipal(const AppSettings& settings, QWidget* parent)
    : QWidget(parent), Label1(new QLabel(QStringLiteral("Pasta Local:"), this)), Edit1(new QLineEdit(this)),
      Edit2(new QLineEdit(this)), Button5(new QPushButton(QStringLiteral("Passo 1 - Sincroniza Dados"), this)),
      Button3(new QPushButton(QStringLiteral("Passo 2 - Upload Banco Cadastro"), this)), Gauge1(new Gauge(this)),
      Memo1(new QPlainTextEdit(this)), Button1(new QPushButton(QStringLiteral("Download Banco Cadastro"), this)),
      settings_(settings), log_(Memo1), progress_(this, Gauge1, QStringLiteral("frmPrincipal")) {
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(QStringLiteral("frmPrincipal"));
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setFixedSize(708, 479);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);

    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(24, 44);
    Label1->adjustSize();
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(24, 63, 465, 21);
    Edit1->setReadOnly(true);
    Edit1->setText(settings.mobilePath());
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setGeometry(24, 90, 465, 21);
    Edit2->setText(settings.sourceDatabase);
    Button5->setObjectName(QStringLiteral("Button5"));
    Button5->setGeometry(24, 114, 465, 25);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(24, 145, 465, 25);
    Gauge1->setObjectName(QStringLiteral("Gauge1"));
    Gauge1->setGeometry(24, 176, 465, 19);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(0, 200, 708, 279);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setTabChangesFocus(true);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(184, 16, 217, 25);
    Button1->setVisible(false);

    setTabOrder(Button3, Edit1);
    setTabOrder(Edit1, Memo1);
    setTabOrder(Memo1, Button5);
    setTabOrder(Button5, Edit2);
    Button3->setFocus();

    connect(Button5, &QPushButton::clicked, this, &TfrmPrincipal::Button5Click);
    connect(Button3, &QPushButton::clicked, this, &TfrmPrincipal::Button3Click);
    connect(Button1, &QPushButton::clicked, this, &TfrmPrincipal::Button1Click);

    headless_ = QGuiApplication::platformName() == QLatin1String("offscreen") ||
                QGuiApplication::platformName() == QLatin1String("minimal");
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TfrmPrincipal::~TfrmPrincipal() = default;

void TfrmPrincipal::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TfrmPrincipal::FormShow() {
    QString first = firstArgument();
    for (QChar& c : first)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    if (first != QLatin1String("EXECUTAR"))
        return;
    unattended_ = true;
    progress_.setUnattended(true);
    {
        Run run(*this);
        if (run && runStep1() && !ended_ && runStep2() && !ended_) {
            appendLine(QStringLiteral("Salvando log em: ") + logFilePath());
            if (saveLog())
                endProgram(0);
        }
    }
    progress_.finish(); // a sequence cut short leaves the window waiting; its summary is due now
}

// ---- run log, gauge, events -------------------------------------------------------------------

void TfrmPrincipal::appendLog(std::string_view line) {
    log_.appendCp1252(line);
}

void TfrmPrincipal::appendLine(const QString& line) {
    log_.append(line);
}

void TfrmPrincipal::setGaugePosition(int position) {
    Gauge1->setProgress(position);
}

void TfrmPrincipal::setGaugeMaximum(int maximum) {
    Gauge1->setMaxValue(maximum);
}

void TfrmPrincipal::stepGauge() {
    Gauge1->addProgress(1);
}

void TfrmPrincipal::processEvents() {
    QCoreApplication::processEvents();
    if (stopping())
        throw Error("Execução interrompida.");
}

QString TfrmPrincipal::logFilePath() const {
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QLatin1Char('/')) +
           QLatin1String(kLogFileName);
}

bool TfrmPrincipal::saveLog() {
    if (auto error = writeFile(logFilePath(), log_.fileContent())) {
        errorBox(*error);
        return false;
    }
    return true;
}

// ---- failure handling -------------------------------------------------------------------------

void TfrmPrincipal::errorBox(const QString& message) {
    lastError_ = message;
    failed_ = true;
    progress_.failed(message);
    log_.flush();
    if (!headless_ && !stopping()) {
        NormalCursor normal;
        QMessageBox::critical(this, QCoreApplication::applicationName(), message);
        return;
    }
    // Nobody can close a box here: the message goes to standard error, and an unattended run
    // saves its log and ends as failed instead of waiting.
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    if (unattended_ || stopping()) {
        if (auto error = writeFile(logFilePath(), log_.fileContent()))
            std::fprintf(stderr, "%s\n", error->toLocal8Bit().constData());
        endProgram(1);
    }
}

void TfrmPrincipal::failAndEnd(const QString& message) {
    progress_.failed(message);
    appendLine(message);
    if (!saveLog())
        return;
    endProgram(1);
}

void TfrmPrincipal::endProgram(int code) {
    ended_ = true;
    exitCode_ = code;
    progress_.finish();
    log_.flush();
    if (dm_) {
        try {
            dm_->release();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
        }
    }
    close();
    QCoreApplication::exit(code);
}

// ---- step 1: the synchronization run ----------------------------------------------------------

void TfrmPrincipal::readMaquinas() {
    if (!QFileInfo::exists(QStringLiteral("maquinas.txt")))
        return;
    QString path = settings_.maquinasPath();
    std::ifstream in(QFile::encodeName(path).constData(), std::ios::binary);
    if (!in)
        throw Error(QStringLiteral("Cannot open file \"%1\". %2")
                        .arg(path, QString::fromLocal8Bit(std::strerror(errno)))
                        .toStdString());
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
    const bool copied = replaceWithCopy(settings_.templatePath(), Edit1->text());
    appendLine(copied ? QStringLiteral("Banco Vazio pronto para Sincronização") : QStringLiteral("Erro ao Copiar"));
    appendLine(settings_.templatePath());
    appendLine(Edit1->text());
    dm_->FDConnectionBancoMovel.open();
    dm_->FDConnectionBancoVela.setParam("Database", Edit2->text().toStdString());
    dm_->FDConnectionBancoVela.open();
}

bool TfrmPrincipal::runStep1() {
    StepGuard guard(*this, Button5, RunProgress::Step::Sync);
    Run run(*this);
    if (!run)
        return false;
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
        sincronizaTabelas(*dm_, *this);
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

void TfrmPrincipal::stopSilently() {
    failed_ = true;
    log_.flush();
    const QStringList lines = unattended_ || stopping() ? log_.lines() : QStringList();
    progress_.failed(lines.isEmpty() ? QString() : lines.last());
    if ((headless_ && unattended_) || stopping()) {
        // Nobody will look at the window: say why on standard error, keep the log, fail the run.
        std::fprintf(stderr, "%s\n", lines.isEmpty() ? "" : lines.last().toLocal8Bit().constData());
        if (auto error = writeFile(logFilePath(), log_.fileContent()))
            std::fprintf(stderr, "%s\n", error->toLocal8Bit().constData());
        endProgram(1);
    }
}

void TfrmPrincipal::Button3Click() {
    runStep2();
}

} // namespace vela
