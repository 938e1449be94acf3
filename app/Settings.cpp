#include "app/Settings.h"

#include "common/Error.h"
#include "common/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vela {

namespace {

const char* const kIniName = "atualizavela-movel.ini";
const char* const kSystemIni = "/etc/atualizavela-movel/atualizavela-movel.ini";
const char* const kLogFileName = "logAtualizaVela-Movel.txt";

QString join(const QString& folder, const QString& relative) {
    return QDir::toNativeSeparators(QDir::cleanPath(folder + QLatin1Char('/') + relative));
}

QString mode(mode_t m) {
    return QStringLiteral("%1").arg(m & 07777, 4, 8, QLatin1Char('0'));
}

[[noreturn]] void refuse(const QString& message) {
    throw Error(message.toStdString());
}

QString userName(uid_t uid) {
    if (const passwd* pw = ::getpwuid(uid))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(uid);
}

// The file must be readable now, and no one but its owner, who is root or the user running us,
// may have changed it: it names the folders written and the server that receives the passwords.
// A file holding a password must not be readable by others either. As sshd's StrictModes.
void checkFile(const QString& file, const QString& password, const struct stat& status) {
    const QString path = QFileInfo(file).absoluteFilePath();
    if (status.st_uid != 0 && status.st_uid != ::geteuid())
        refuse(QStringLiteral("Configuração recusada: \"%1\" pertence ao usuário %2; só root ou o usuário que "
                              "executa o programa (%3) podem ser donos dele.")
                   .arg(path, userName(status.st_uid), userName(::geteuid())));
    if (status.st_mode & (S_IWGRP | S_IWOTH))
        refuse(QStringLiteral("Configuração recusada: \"%1\" tem o modo %2; só o dono pode alterá-lo "
                              "(chmod go-w \"%1\").")
                   .arg(path, mode(status.st_mode)));
    if (!password.isEmpty() && (status.st_mode & S_IROTH))
        refuse(QStringLiteral("Senha %1 recusada: \"%2\" tem o modo %3; um arquivo com senha não pode "
                              "ser lido nem alterado por outros usuários além do dono e do grupo "
                              "(chmod o-rw \"%2\").")
                   .arg(password, path, mode(status.st_mode)));
}

// Opens the file as the reader will, so that an unreadable file is an error rather than a file
// QSettings quietly takes for empty.
struct stat statReadable(const QString& file) {
    const UniqueFd fd(::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    int error = 0;
    if (!fd)
        error = errno;
    else if (::fstat(fd.get(), &status) != 0)
        error = errno;
    else if (!S_ISREG(status.st_mode))
        error = EISDIR;
    if (error != 0)
        refuse(QStringLiteral("Não foi possível ler a configuração \"%1\": %2")
                   .arg(QFileInfo(file).absoluteFilePath(), QString::fromLocal8Bit(std::strerror(error))));
    return status;
}

class Reader {
public:
    explicit Reader(const QString& file) : ini_(file, QSettings::IniFormat) {}

    bool contains(const char* key) const { return ini_.contains(QLatin1String(key)); }

    QString text(const char* key, const QString& fallback) const {
        return ini_.value(QLatin1String(key), fallback).toString();
    }

    int number(const char* key, int fallback, int min, int max) const {
        if (!contains(key))
            return fallback;
        const QString value = ini_.value(QLatin1String(key)).toString();
        bool ok = false;
        const int n = value.trimmed().toInt(&ok);
        if (!ok || n < min || n > max)
            refuse(QStringLiteral("Valor inválido em [%1] %2: %3")
                       .arg(QString::fromLatin1(key).section(QLatin1Char('/'), 0, 0),
                            QString::fromLatin1(key).section(QLatin1Char('/'), 1), value));
        return n;
    }

    QSettings::Status status() const { return ini_.status(); }

private:
    QSettings ini_;
};

QString locate() {
    const QString named = qEnvironmentVariable("ATUALIZAVELA_CONFIG");
    if (!named.isEmpty())
        return named; // must be there: a scheduler that names a file means that file
    const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kIniName);
    QFileInfo info(beside);
    if (info.exists() || info.isSymLink())
        return beside;
    if (QFileInfo::exists(QLatin1String(kSystemIni)))
        return QLatin1String(kSystemIni);
    return {};
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

QString AppSettings::logFilePath() const {
    const QString folder = logFolder.isEmpty() ? QCoreApplication::applicationDirPath() : logFolder;
    return QDir::toNativeSeparators(QDir::cleanPath(folder) + QLatin1Char('/')) + QLatin1String(kLogFileName);
}

AppSettings builtInSettings() {
    AppSettings s;
#ifdef Q_OS_WIN
    s.mobileFolder = QStringLiteral("C:\\VelaOSx\\Vela_Movel");
    s.sourceDatabase = QStringLiteral("C:\\VelaWindows\\Vela-Admin\\banco\\BANCODADOS.FDB");
#else
    s.mobileFolder = QStringLiteral("/opt/VelaOSx/Vela_Movel");
    s.sourceDatabase = QStringLiteral("/opt/VelaWindows/Vela-Admin/banco/BANCODADOS.FDB");
#endif
    return s;
}

AppSettings loadSettings() {
    const QString file = locate();
    return file.isEmpty() ? builtInSettings() : loadSettingsFrom(file);
}

AppSettings loadSettingsFrom(const QString& file) {
    AppSettings s = builtInSettings();
    s.file = file;
    const struct stat status = statReadable(file);
    Reader ini(file);
    if (ini.status() != QSettings::NoError)
        refuse(QStringLiteral("Não foi possível ler a configuração \"%1\": formato inválido")
                   .arg(QFileInfo(file).absoluteFilePath()));
    checkFile(file,
              ini.contains("ftp/password")      ? QStringLiteral("do FTP")
              : ini.contains("source/password") ? QStringLiteral("do banco")
                                                : QString(),
              status);

    s.mobileFolder = ini.text("paths/mobile_folder", s.mobileFolder);
    s.sourceDatabase = ini.text("paths/source_database", s.sourceDatabase);
    s.logFolder = ini.text("paths/log_folder", s.logFolder);
    s.sourceUser = ini.text("source/user", s.sourceUser);
    s.sourcePassword = ini.text("source/password", s.sourcePassword);
    const QString protocol = ini.text("ftp/protocol", QStringLiteral("ftp"));
    if (protocol == QLatin1String("sftp"))
        s.ftpProtocol = AppSettings::Protocol::Sftp;
    else if (protocol != QLatin1String("ftp"))
        refuse(QStringLiteral("Valor inválido em [ftp] protocol: %1").arg(protocol));
    s.ftpHost = ini.text("ftp/host", s.ftpHost);
    s.ftpPort = ini.number("ftp/port", s.ftpProtocol == AppSettings::Protocol::Sftp ? 22 : s.ftpPort, 1, 65535);
    s.ftpTimeout = ini.number("ftp/timeout", s.ftpTimeout, 1, 86400);
    const QString tls = ini.text("ftp/tls", QStringLiteral("off"));
    if (tls == QLatin1String("try"))
        s.ftpTls = FtpSettings::Tls::Try;
    else if (tls == QLatin1String("require"))
        s.ftpTls = FtpSettings::Tls::Require;
    else if (tls != QLatin1String("off"))
        refuse(QStringLiteral("Valor inválido em [ftp] tls: %1 (off, try ou require)").arg(tls));
    s.ftpCaFile = ini.text("ftp/ca_file", s.ftpCaFile);
    if (ini.contains("ftp/user"))
        s.ftpUser = ini.text("ftp/user", {});
    if (ini.contains("ftp/password"))
        s.ftpPassword = ini.text("ftp/password", {});
    s.ftpRetries = ini.number("ftp/retries", s.ftpRetries, 0, 100);
    s.ftpRetryWait = ini.number("ftp/retry_wait", s.ftpRetryWait, 0, 86400);
    s.ftpMaxRate = ini.number("ftp/max_rate", s.ftpMaxRate, 0, 1 << 30);
    s.ftpKeyFile = ini.text("ftp/key_file", {});
    s.ftpKnownHosts = ini.text("ftp/known_hosts", {});
    s.ftpHostKeySha256 = ini.text("ftp/host_key_sha256", {});
    s.ftpRemoteRoot = ini.text("ftp/remote_root", {});
    const QString ownerCheck = ini.text("ftp/owner_check", QStringLiteral("on"));
    if (ownerCheck != QLatin1String("on") && ownerCheck != QLatin1String("off"))
        refuse(QStringLiteral("Valor inválido em [ftp] owner_check: %1 (on ou off)").arg(ownerCheck));
    s.ftpOwnerCheck = ownerCheck == QLatin1String("on");
    // Refused now rather than in step 2, after the mobile database has been rebuilt.
    expectedFingerprint(s.ftpHostKeySha256.toStdString());
    if (s.ftpProtocol == AppSettings::Protocol::Sftp && !s.ftpKeyFile.isEmpty())
        checkPrivateKey(QFile::encodeName(s.ftpKeyFile).toStdString());
    return s;
}

FtpSettings ftpSettings(const AppSettings& settings) {
    FtpSettings ftp;
    ftp.host = settings.ftpHost.toStdString();
    ftp.port = settings.ftpPort;
    ftp.replyTimeout = std::chrono::seconds(settings.ftpTimeout);
    ftp.tls = settings.ftpTls;
    ftp.caFile = QFile::encodeName(settings.ftpCaFile).toStdString();
    if (settings.ftpUser)
        ftp.user = settings.ftpUser->toStdString();
    if (settings.ftpPassword)
        ftp.password = settings.ftpPassword->toStdString();
    ftp.retries = settings.ftpRetries;
    ftp.retryWait = std::chrono::seconds(settings.ftpRetryWait);
    ftp.maxRate = settings.ftpMaxRate;
    ftp.ownerCheck = settings.ftpOwnerCheck;
    return ftp;
}

UploadSettings uploadSettings(const AppSettings& settings) {
    FtpSettings ftp = ftpSettings(settings);
    if (settings.ftpProtocol == AppSettings::Protocol::Ftp)
        return ftp;
    SftpSettings sftp;
    sftp.host = ftp.host;
    sftp.port = ftp.port;
    sftp.user = ftp.user;
    sftp.password = ftp.password;
    sftp.keyFile = QFile::encodeName(settings.ftpKeyFile).toStdString();
    sftp.knownHosts = QFile::encodeName(settings.ftpKnownHosts).toStdString();
    sftp.hostKeySha256 = settings.ftpHostKeySha256.toStdString();
    sftp.remoteRoot = settings.ftpRemoteRoot.toStdString();
    sftp.replyTimeout = ftp.replyTimeout;
    sftp.retries = ftp.retries;
    sftp.retryWait = ftp.retryWait;
    sftp.maxRate = ftp.maxRate;
    sftp.ownerCheck = ftp.ownerCheck;
    return sftp;
}

} // namespace vela
