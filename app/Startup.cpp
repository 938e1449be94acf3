#include "app/Startup.h"

#include "db/ModuloDadosCadastro.h"

#include <QtGlobal>

#include <exception>

#include <string>

namespace vela {

namespace {

std::string& kept() {
    static std::string first;
    return first;
}

QtMessageHandler previousHandler = nullptr;

void environmentFilter(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: ")))
        return;
    previousHandler(type, context, message);
}

} // namespace

void keepFirstArgument(int argc, char** argv) {
    kept() = argc > 1 && argv[1] ? argv[1] : "";
}

QString firstArgument() {
    return QString::fromLocal8Bit(kept());
}

void dropEnvironmentWarnings() {
    if (!previousHandler)
        previousHandler = qInstallMessageHandler(environmentFilter);
}

void choosePlainEventLoop() {
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

std::optional<AppSettings> settingsOrReason(QString& reason) {
    try {
        return loadSettings();
    } catch (const std::exception& e) {
        reason = QString::fromUtf8(e.what());
        return std::nullopt;
    }
}

std::unique_ptr<TDMSistemaCadastro> dataModule(const AppSettings& settings) {
    return std::make_unique<TDMSistemaCadastro>(TDMSistemaCadastro::Paths{
        settings.sourceDatabase.toStdString(), settings.mobilePath().toStdString(), settings.sourceUser.toStdString(),
        settings.sourcePassword.toStdString()});
}

} // namespace vela
