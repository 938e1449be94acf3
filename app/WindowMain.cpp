// The window's library: the program's run with a window, called by main once it has loaded it.
#include "app/ExitStatus.h"
#include "app/NormalCursor.h"
#include "app/Startup.h"
#include "app/StopSignals.h"
#include "app/WindowModule.h"
#include "app/principal.h"
#include "db/ModuloDadosCadastro.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <type_traits>

namespace {

bool headlessPlatform() {
    return QGuiApplication::platformName() == QLatin1String("offscreen") ||
           QGuiApplication::platformName() == QLatin1String("minimal");
}

int runWindow(int argc, char** argv) {
    // Scheduled runs often have no display: draw nowhere rather than fail to start.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("atualizavela-movel"));
    QString reason;
    std::optional<vela::AppSettings> settings = vela::settingsOrReason(reason);
    if (!settings) {
        if (headlessPlatform()) {
            std::fprintf(stderr, "%s\n", reason.toLocal8Bit().constData());
        } else {
            vela::NormalCursor normal;
            QMessageBox::critical(nullptr, QCoreApplication::applicationName(), reason);
        }
        return vela::kExitRefused;
    }
    vela::TfrmPrincipal frmPrincipal(*settings);
    vela::StopSignals stopSignals([&frmPrincipal] { frmPrincipal.requestStop(); });
    auto DMSistemaCadastro = vela::dataModule(*settings);
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

extern "C" int atualizavela_movel_janela(int argc, char** argv) {
    return runWindow(argc, argv);
}

// main and the library agree on the entry's type.
static_assert(std::is_same_v<decltype(&atualizavela_movel_janela), vela::WindowEntry>);
