#include "app/Startup.h"

#include <QtGlobal>

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

} // namespace vela
