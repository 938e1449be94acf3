#include "app/Settings.h"

#include "common/Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <sys/stat.h>

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
    bool numeric = false;
    const QString timeout = ini.value(QStringLiteral("ftp/timeout"), s.ftpTimeout).toString();
    s.ftpTimeout = timeout.toInt(&numeric);
    if (!numeric || s.ftpTimeout <= 0)
        s.ftpProblem = QStringLiteral("Valor inválido em [ftp] timeout: %1").arg(timeout);
    s.ftpTls = ini.value(QStringLiteral("ftp/tls"), s.ftpTls).toString();
    s.ftpCaFile = ini.value(QStringLiteral("ftp/ca_file")).toString();
    if (ini.contains(QStringLiteral("ftp/user")))
        s.ftpUser = ini.value(QStringLiteral("ftp/user")).toString();
    if (ini.contains(QStringLiteral("ftp/password"))) {
        s.ftpPassword = ini.value(QStringLiteral("ftp/password")).toString();
        // As ssh does with key files: a password that anyone on the machine can read is leaked,
        // and one that anyone can change sends the database elsewhere.
        struct stat status {};
        if (::stat(QFile::encodeName(file).constData(), &status) == 0 && (status.st_mode & (S_IROTH | S_IWOTH)))
            s.ftpProblem = QStringLiteral("Senha do FTP recusada: \"%1\" tem o modo %2; um arquivo com senha não pode "
                                          "ser lido nem alterado por outros usuários além do dono e do grupo "
                                          "(chmod o-rw \"%1\").")
                               .arg(QFileInfo(file).absoluteFilePath())
                               .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0'));
    }
    return s;
}

FtpSettings ftpSettings(const AppSettings& settings) {
    if (!settings.ftpProblem.isEmpty())
        throw Error(settings.ftpProblem.toStdString());
    FtpSettings ftp;
    ftp.host = settings.ftpHost.toStdString();
    ftp.port = settings.ftpPort;
    ftp.replyTimeout = std::chrono::seconds(settings.ftpTimeout);
    if (settings.ftpTls == QLatin1String("try"))
        ftp.tls = FtpSettings::Tls::Try;
    else if (settings.ftpTls == QLatin1String("require"))
        ftp.tls = FtpSettings::Tls::Require;
    else if (settings.ftpTls != QLatin1String("off"))
        throw Error(
            QStringLiteral("Valor inválido em [ftp] tls: %1 (off, try ou require)").arg(settings.ftpTls).toStdString());
    ftp.caFile = QFile::encodeName(settings.ftpCaFile).toStdString();
    if (settings.ftpUser)
        ftp.user = settings.ftpUser->toStdString();
    if (settings.ftpPassword)
        ftp.password = settings.ftpPassword->toStdString();
    return ftp;
}

} // namespace vela
