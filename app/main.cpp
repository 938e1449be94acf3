#include "app/Check.h"
#include "app/ConsoleView.h"
#include "app/ExitStatus.h"
#include "app/RunController.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "app/StopSignals.h"
#include "app/WindowModule.h"
#include "db/Firebird.h"
#include "db/ModuloDadosCadastro.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace {

const char* const kUsage =
    "Uso: atualizavela-movel [EXECUTAR | --check | --help | --version]\n"
    "\n"
    "Prepara o banco de dados da aplicação móvel de vendas e o publica no servidor.\n"
    "Sem argumentos abre a janela com os dois passos; com EXECUTAR (em qualquer caixa) executa os\n"
    "dois passos sem intervenção, salva o log da execução e termina. Sem tela (sem DISPLAY nem\n"
    "WAYLAND_DISPLAY, ou QT_QPA_PLATFORM offscreen ou minimal) a janela não pode ser aberta: só\n"
    "EXECUTAR e as opções abaixo são aceitos.\n"
    "\n"
    "Configuração: o arquivo que ATUALIZAVELA_CONFIG indica, ou atualizavela-movel.ini ao lado do\n"
    "executável, ou /etc/atualizavela-movel/atualizavela-movel.ini.\n"
    "\n"
    "  EXECUTAR       executa os dois passos sem intervenção e termina\n"
    "      --check    confere a configuração, o banco de retaguarda e o servidor sem alterar nada\n"
    "  -h, --help     mostra esta ajuda e termina\n"
    "      --version  mostra a versão e termina\n"
    "\n"
    "Status de saída:\n"
    "  0  publicado (na janela: o passo concluído); --check: tudo certo\n"
    "  1  um passo falhou ou foi interrompido; --check: algo não respondeu como devia\n"
    "  2  uso, falta de tela ou configuração recusada, antes de qualquer alteração\n"
    "  3  outra execução detém o bloqueio\n";

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

// Without a display the window cannot open, and one opened offscreen would wait for a click that
// never comes: only the arguments that need no window are taken (--help, --version and --check
// are answered before). Anything else ends here, before
// the settings are read or any file is touched.
std::optional<int> refuseWithoutDisplay(int argc, char** argv) {
    if (vela::unattendedArgument())
        return std::nullopt;
    if (argc < 2)
        std::fputs("atualizavela-movel: sem tela: a janela não pode ser aberta; use EXECUTAR ou --check\n\n", stderr);
    else
        std::fprintf(stderr,
                     "atualizavela-movel: sem tela: argumento \"%s\" desconhecido e a janela não pode ser aberta; "
                     "use EXECUTAR ou --check\n\n",
                     argv[1]);
    std::fputs(kUsage, stderr);
    return 2;
}

// No display to draw on: none named, or Qt told to draw nowhere (offscreen, minimal).
bool noDisplay() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM").split(':').first();
    if (platform.isEmpty())
        return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    return platform == "offscreen" || platform == "minimal";
}

// An unattended run with nobody to see it: no window, no platform plugin, no fonts, no event round.
int runWithoutWindow(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("atualizavela-movel"));
    QString reason;
    std::optional<vela::AppSettings> settings = vela::settingsOrReason(reason);
    if (!settings) {
        std::fprintf(stderr, "%s\n", reason.toLocal8Bit().constData());
        return vela::kExitRefused;
    }
    vela::ConsoleView view(*settings);
    vela::RunController run(*settings, view);
    vela::StopSignals stopSignals([&run] { run.requestStop(); });
    auto DMSistemaCadastro = vela::dataModule(*settings);
    run.setDataModule(DMSistemaCadastro.get());
    run.runUnattended();
    run.setDataModule(nullptr);
    DMSistemaCadastro.reset(); // closing the mobile connection commits what is pending
    return run.ended() ? run.exitCode() : 1;
}

// The window's library: beside the program (a build tree, a program folder copied whole), else in
// the package's private folder. Never looked for in the working folder or on the library path: a
// program a scheduler starts must not run whatever code lies there. The first one present is the
// one; a broken one is reported, not passed over for an older one that may not fit this program.
// Nothing is touched before it is loaded, so a missing window leaves no log and no lock.
vela::WindowEntry loadWindow(QLibrary& library) {
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    QStringList reasons;
    for (const QString& folder : {QFileInfo(program).path(), QStringLiteral(VELA_WINDOW_MODULE_DIR)}) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(vela::kWindowModuleFile);
        // QLibrary would try other names for a file that is not there and report the last of them.
        struct stat status;
        if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
            reasons << QStringLiteral("\"%1\": %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            continue;
        }
        library.setFileName(path);
        // Every symbol bound now: a library that does not fit the program fails here, not mid-run.
        library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
        if (auto entry = reinterpret_cast<vela::WindowEntry>(library.resolve(vela::kWindowEntry)))
            return entry;
        reasons << QStringLiteral("\"%1\": %2").arg(path, library.errorString());
        break;
    }
    std::fprintf(stderr, "Não foi possível carregar a janela do programa: %s\n",
                 reasons.join(QStringLiteral("; ")).toLocal8Bit().constData());
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    if (std::optional<int> answered = answerInfoArgument(argc, argv))
        return std::fflush(stdout) == 0 ? *answered : 1;
    vela::StopSignals::takeOverEarly();
    vela::keepFirstArgument(argc, argv);
    const bool check = argc > 1 && std::strcmp(argv[1], "--check") == 0;
    if (!check && noDisplay())
        if (std::optional<int> refused = refuseWithoutDisplay(argc, argv))
            return *refused;
    vela::dropEnvironmentWarnings();
    vela::choosePlainEventLoop();
    int code;
    if (check) {
        code = vela::runCheck(argc, argv);
    } else if (vela::unattendedArgument() && noDisplay()) {
        code = runWithoutWindow(argc, argv);
    } else {
        QLibrary library;
        const vela::WindowEntry window = loadWindow(library);
        if (!window)
            return 1;
        code = window(argc, argv);
    }
    vela::fb::shutdownEngine();
    return code;
}
