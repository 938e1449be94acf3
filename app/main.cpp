#include "app/Settings.h"
#include "app/Startup.h"
#include "app/StopSignals.h"
#include "app/principal.h"
#include "db/Firebird.h"
#include "db/ModuloDadosCadastro.h"

#include <QApplication>

#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
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
        vela::AppSettings settings = vela::loadSettings();
        vela::TfrmPrincipal frmPrincipal(settings);
        vela::StopSignals stopSignals([&frmPrincipal] { frmPrincipal.requestStop(); });
        auto DMSistemaCadastro = std::make_unique<vela::TDMSistemaCadastro>(vela::TDMSistemaCadastro::Paths{
            settings.sourceDatabase.toStdString(), settings.mobilePath().toStdString()});
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
