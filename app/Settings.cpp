#include "app/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

namespace vela {

namespace {

QString join(const QString& folder, const QString& relative) {
    return QDir::toNativeSeparators(QDir::cleanPath(folder + QLatin1Char('/') + relative));
}

} // namespace

QString AppSettings::mobilePath() const {
    return join(mobileFolder, QStringLiteral("Banco/BANCODADOS.gdb"));
}

QString AppSettings::templatePath() const {
    return join(mobileFolder, QStringLiteral("Banco/VAZIO.GDB"));
}

QString AppSettings::maquinasPath() const {
    return join(mobileFolder, QStringLiteral("maquinas.txt"));
}

AppSettings loadSettings() {
    AppSettings s;
#ifdef Q_OS_WIN
    s.mobileFolder = QStringLiteral("C:\\VelaOSx\\Vela_Movel");
    s.sourceDatabase = QStringLiteral("C:\\VelaWindows\\Vela-Admin\\banco\\BANCODADOS.FDB");
#else
    s.mobileFolder = QStringLiteral("/opt/VelaOSx/Vela_Movel");
    s.sourceDatabase = QStringLiteral("/opt/VelaWindows/Vela-Admin/banco/BANCODADOS.FDB");
#endif
    QString file = qEnvironmentVariable("ATUALIZAVELA_CONFIG");
    if (file.isEmpty())
        file = QCoreApplication::applicationDirPath() + QStringLiteral("/atualizavela-movel.ini");
    if (!QFile::exists(file))
        return s;
    QSettings ini(file, QSettings::IniFormat);
    s.mobileFolder = ini.value(QStringLiteral("paths/mobile_folder"), s.mobileFolder).toString();
    s.sourceDatabase = ini.value(QStringLiteral("paths/source_database"), s.sourceDatabase).toString();
    s.ftpHost = ini.value(QStringLiteral("ftp/host"), s.ftpHost).toString();
    s.ftpPort = ini.value(QStringLiteral("ftp/port"), s.ftpPort).toInt();
    return s;
}

} // namespace vela
