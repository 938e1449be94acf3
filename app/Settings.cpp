#include "app/Settings.h"

#include "common/Error.h"
#include "common/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <numeric>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// Every section and key the program reads. Anything else in the file is a mistake that would
// otherwise be ignored in silence: a misspelt password= sends the program's own account.
struct KnownSection {
    const char* name;
    std::vector<const char*> keys;
};
const KnownSection kKnown[] = {
    {"paths", {"mobile_folder", "source_database", "log_folder", "metrics_file"}},
    {"source", {"user", "password"}},
    {"ftp",
     {"host", "port", "timeout", "tls", "retries", "retry_wait", "max_rate", "ca_file", "user", "password", "protocol",
      "key_file", "known_hosts", "host_key_sha256", "remote_root", "owner_check"}},
};

const KnownSection* knownSection(const QString& name) {
    for (const KnownSection& section : kKnown)
        if (name == QLatin1String(section.name))
            return &section;
    return nullptr;
}

bool knownKey(const KnownSection& section, const QString& key) {
    return std::any_of(section.keys.begin(), section.keys.end(),
                       [&](const char* k) { return key == QLatin1String(k); });
}

// Edit distance, letter case aside: what a typo is away from the name meant.
int distance(const QString& a, const QString& b) {
    std::vector<int> row(static_cast<size_t>(b.size()) + 1);
    std::iota(row.begin(), row.end(), 0);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int substitute = diagonal + (a[i - 1].toLower() == b[j - 1].toLower() ? 0 : 1);
            diagonal = row[static_cast<size_t>(j)];
            row[static_cast<size_t>(j)] =
                std::min({substitute, row[static_cast<size_t>(j) - 1] + 1, row[static_cast<size_t>(j)] + 1});
        }
    }
    return row.back();
}

// The known section most like name, as "[ftp]".
QString nearestSection(const QString& name) {
    const KnownSection* best = &kKnown[0];
    for (const KnownSection& section : kKnown)
        if (distance(name, QLatin1String(section.name)) < distance(name, QLatin1String(best->name)))
            best = &section;
    return QStringLiteral("[%1]").arg(QLatin1String(best->name));
}

// The known key most like key: one of its own section's, or, when another section's is closer
// (a key put under the wrong heading), that one with its section, as "[ftp] host".
QString nearestKey(const KnownSection* in, const QString& key) {
    QString best;
    int bestDistance = std::numeric_limits<int>::max();
    auto consider = [&](const KnownSection& section, bool own) {
        for (const char* k : section.keys) {
            const int d = distance(key, QLatin1String(k));
            if (d < bestDistance) {
                bestDistance = d;
                best = own ? QLatin1String(k)
                           : QStringLiteral("[%1] %2").arg(QLatin1String(section.name), QLatin1String(k));
            }
        }
    };
    if (in)
        consider(*in, true);
    for (const KnownSection& section : kKnown)
        if (&section != in)
            consider(section, false);
    return best;
}

QString where(const QString& file) {
    return QStringLiteral(" no arquivo \"%1\"").arg(QFileInfo(file).absoluteFilePath());
}

// Checks the file's text as a whole before any value is taken from it: UTF-8 (a byte-order mark
// and CR LF line ends allowed), and only the sections and keys above. The lines are split as
// QSettings splits them: ';' starts a comment, a line ending in '\' goes on in the next, and
// blanks around names do not count.
void checkText(const QString& file, QByteArray bytes) {
    if (bytes.startsWith("\xef\xbb\xbf"))
        bytes.remove(0, 3);
    const KnownSection* section = nullptr;
    QString sectionName;
    bool continued = false;
    int number = 0;
    for (qsizetype start = 0; start < bytes.size();) {
        qsizetype end = start;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        const QByteArray raw = bytes.mid(start, end - start);
        start = end + (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n' ? 2 : 1);
        ++number;
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString line = QString(utf8.decode(raw)).trimmed();
        if (utf8.hasError())
            refuse(QStringLiteral("Não foi possível ler a configuração \"%1\": a linha %2 não está em UTF-8; salve o "
                                  "arquivo como UTF-8.")
                       .arg(QFileInfo(file).absoluteFilePath())
                       .arg(number));
        const bool continuation = continued;
        continued = !line.startsWith(QLatin1Char(';')) && line.endsWith(QLatin1Char('\\'));
        if (continuation || line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            sectionName = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            section = knownSection(sectionName);
            if (!section || close < 0)
                refuse(QStringLiteral("Seção desconhecida na linha %1: [%2] (%3?)")
                           .arg(number)
                           .arg(sectionName, nearestSection(sectionName)) +
                       where(file));
            continue;
        }
        const QString key = line.section(QLatin1Char('='), 0, 0).trimmed();
        if (!section)
            refuse(QStringLiteral("Chave fora de seção na linha %1: %2 (%3?)")
                       .arg(number)
                       .arg(key, nearestKey(nullptr, key)) +
                   where(file));
        if (!knownKey(*section, key))
            refuse(QStringLiteral("Chave desconhecida em [%1] linha %2: %3 (%4?)")
                       .arg(sectionName)
                       .arg(number)
                       .arg(key, nearestKey(section, key)) +
                   where(file));
    }
}

QByteArray readText(const QString& file) {
    QFile in(file);
    QByteArray bytes;
    if (in.open(QIODevice::ReadOnly))
        bytes = in.readAll();
    if (in.error() != QFileDevice::NoError)
        refuse(QStringLiteral("Não foi possível ler a configuração \"%1\": %2")
                   .arg(QFileInfo(file).absoluteFilePath(), in.errorString()));
    return bytes;
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

    // A key QSettings found that the check of the text let through (a name spelt with %-escapes,
    // say) is refused all the same.
    void checkKeys(const QString& file) const {
        for (const QString& key : ini_.allKeys()) {
            const QString name = key.section(QLatin1Char('/'), 0, 0);
            const KnownSection* section = knownSection(name);
            if (!section || !knownKey(*section, key.section(QLatin1Char('/'), 1)))
                refuse(QStringLiteral("Chave desconhecida em [%1]: %2 (%3?)")
                           .arg(name, key.section(QLatin1Char('/'), 1),
                                nearestKey(section, key.section(QLatin1Char('/'), 1))) +
                       where(file));
        }
    }

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
    checkText(file, readText(file));
    Reader ini(file);
    if (ini.status() != QSettings::NoError)
        refuse(QStringLiteral("Não foi possível ler a configuração \"%1\": formato inválido")
                   .arg(QFileInfo(file).absoluteFilePath()));
    ini.checkKeys(file);
    checkFile(file,
              ini.contains("ftp/password")      ? QStringLiteral("do FTP")
              : ini.contains("source/password") ? QStringLiteral("do banco")
                                                : QString(),
              status);

    s.mobileFolder = ini.text("paths/mobile_folder", s.mobileFolder);
    s.sourceDatabase = ini.text("paths/source_database", s.sourceDatabase);
    s.logFolder = ini.text("paths/log_folder", s.logFolder);
    s.metricsFile = ini.text("paths/metrics_file", s.metricsFile);
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
