#include "app/NormalCursor.h"
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

} // namespace

int main(int argc, char** argv) {
    if (std::optional<int> answered = answerInfoArgument(argc, argv))
        return std::fflush(stdout) == 0 ? *answered : 1;
    vela::keepFirstArgument(argc, argv);
    vela::dropEnvironmentWarnings();
    // Scheduled runs often have no display: draw nowhere rather than fail to start.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    vela::choosePlainEventLoop();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("atualizavela-movel"));

    int code = 0;
    {
        vela::AppSettings settings;
        try {
            settings = vela::loadSettings();
        } catch (const std::exception& e) {
            // Nothing is touched with settings that cannot be trusted, the log file included.
            const QString message = QString::fromUtf8(e.what());
            if (headlessPlatform()) {
                std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
            } else {
                vela::NormalCursor normal;
                QMessageBox::critical(nullptr, QCoreApplication::applicationName(), message);
            }
            return 1;
        }
        vela::TfrmPrincipal frmPrincipal(settings);
        vela::StopSignals stopSignals([&frmPrincipal] { frmPrincipal.requestStop(); });
        auto DMSistemaCadastro = std::make_unique<vela::TDMSistemaCadastro>(vela::TDMSistemaCadastro::Paths{
            settings.sourceDatabase.toStdString(), settings.mobilePath().toStdString(),
            settings.sourceUser.toStdString(), settings.sourcePassword.toStdString()});
        frmPrincipal.setDataModule(DMSistemaCadastro.get());
        frmPrincipal.show();
        code = frmPrincipal.ended() ? frmPrincipal.exitCode() : app.exec();
        if (frmPrincipal.ended())
            code = frmPrincipal.exitCode();
        frmPrincipal.setDataModule(nullptr);
        DMSistemaCadastro.reset(); // closing the mobile connection commits what is pending
    }
    vela::fb::shutdownEngine();
    return code;
}
