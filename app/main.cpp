#include "app/ConsoleView.h"
#include "app/NormalCursor.h"
#include "app/RunController.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "app/StopSignals.h"
#include "app/principal.h"
#include "db/Firebird.h"
#include "db/ModuloDadosCadastro.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace {

const char* const kUsage =
    "Uso: atualizavela-movel [EXECUTAR]\n"
    "\n"
    "Prepara o banco de dados da aplicação móvel de vendas e o publica no servidor.\n"
    "Sem argumentos abre a janela com os dois passos; com EXECUTAR (em qualquer caixa) executa os\n"
    "dois passos sem intervenção, salva o log da execução e termina (status 0: concluído, 1: falhou).\n"
    "\n"
    "Configuração: o arquivo que ATUALIZAVELA_CONFIG indica, ou atualizavela-movel.ini ao lado do\n"
    "executável, ou /etc/atualizavela-movel/atualizavela-movel.ini.\n"
    "\n"
    "  -h, --help     mostra esta ajuda e termina\n"
    "      --version  mostra a versão e termina\n";

// --help and --version answer at once: no window, no settings read, no file touched.
std::optional<int> answerInfoArgument(int argc, char** argv) {
    if (argc < 2)
        return std::nullopt;
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("atualizavela-movel %s\n", VELA_VERSION);
        return 0;
    }
    return std::nullopt;
}

bool headlessPlatform() {
    return QGuiApplication::platformName() == QLatin1String("offscreen") ||
           QGuiApplication::platformName() == QLatin1String("minimal");
}

// No display to draw on: none named, or Qt told to draw nowhere (offscreen, minimal).
bool noDisplay() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM").split(':').first();
    if (platform.isEmpty())
        return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    return platform == "offscreen" || platform == "minimal";
}

// The settings, or the reason they cannot be trusted; nothing is touched without them, the log
// file included.
std::optional<vela::AppSettings> settingsOrReason(QString& reason) {
    try {
        return vela::loadSettings();
    } catch (const std::exception& e) {
        reason = QString::fromUtf8(e.what());
        return std::nullopt;
    }
}

std::unique_ptr<vela::TDMSistemaCadastro> dataModule(const vela::AppSettings& settings) {
    return std::make_unique<vela::TDMSistemaCadastro>(vela::TDMSistemaCadastro::Paths{
        settings.sourceDatabase.toStdString(), settings.mobilePath().toStdString(), settings.sourceUser.toStdString(),
        settings.sourcePassword.toStdString()});
}

// An unattended run with nobody to see it: no window, no platform plugin, no fonts, no event round.
int runWithoutWindow(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("atualizavela-movel"));
    QString reason;
    std::optional<vela::AppSettings> settings = settingsOrReason(reason);
    if (!settings) {
        std::fprintf(stderr, "%s\n", reason.toLocal8Bit().constData());
        return 1;
    }
    vela::ConsoleView view(*settings);
    vela::RunController run(*settings, view);
    view.setRun(&run);
    vela::StopSignals stopSignals([&run] { run.requestStop(); });
    auto DMSistemaCadastro = dataModule(*settings);
    run.setDataModule(DMSistemaCadastro.get());
    run.runUnattended();
    run.setDataModule(nullptr);
    DMSistemaCadastro.reset(); // closing the mobile connection commits what is pending
    return run.ended() ? run.exitCode() : 1;
}

int runWindow(int argc, char** argv) {
    // Scheduled runs often have no display: draw nowhere rather than fail to start.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("atualizavela-movel"));
    QString reason;
    std::optional<vela::AppSettings> settings = settingsOrReason(reason);
    if (!settings) {
        if (headlessPlatform()) {
            std::fprintf(stderr, "%s\n", reason.toLocal8Bit().constData());
        } else {
            vela::NormalCursor normal;
            QMessageBox::critical(nullptr, QCoreApplication::applicationName(), reason);
        }
        return 1;
    }
    vela::TfrmPrincipal frmPrincipal(*settings);
    vela::StopSignals stopSignals([&frmPrincipal] { frmPrincipal.requestStop(); });
    auto DMSistemaCadastro = dataModule(*settings);
    frmPrincipal.setDataModule(DMSistemaCadastro.get());
    frmPrincipal.show();
    int code = frmPrincipal.ended() ? frmPrincipal.exitCode() : app.exec();
    if (frmPrincipal.ended())
        code = frmPrincipal.exitCode();
    frmPrincipal.setDataModule(nullptr);
    DMSistemaCadastro.reset(); // closing the mobile connection commits what is pending
    return code;
}

} // namespace

int main(int argc, char** argv) {
    if (std::optional<int> answered = answerInfoArgument(argc, argv))
        return std::fflush(stdout) == 0 ? *answered : 1;
    vela::keepFirstArgument(argc, argv);
    vela::dropEnvironmentWarnings();
    vela::choosePlainEventLoop();
    const int code = vela::unattendedArgument() && noDisplay() ? runWithoutWindow(argc, argv) : runWindow(argc, argv);
    vela::fb::shutdownEngine();
    return code;
}
