#pragma once

#include "publish/UploadStep.h"

#include <QString>

#include <optional>

namespace vela {

// Where the program finds its files and how it reaches the servers. Read from the file
// ATUALIZAVELA_CONFIG names, else atualizavela-movel.ini beside the executable, else
// /etc/atualizavela-movel/atualizavela-movel.ini; with none of them, the built-in values serve.
struct AppSettings {
    QString mobileFolder;   // holds Banco/VAZIO.GDB, Banco/BANCODADOS.gdb and maquinas.txt
    QString sourceDatabase; // the initial source path
    QString logFolder;      // where the run log file goes; empty: beside the executable
    QString sourceUser = QStringLiteral("sysdba");
    QString sourcePassword = QStringLiteral("quillfern");
    enum class Protocol { Ftp, Sftp };
    Protocol ftpProtocol = Protocol::Ftp;
    QString ftpHost;
    int ftpPort = 21; // 22 for SFTP unless set
    int ftpTimeout = 60; // seconds
    FtpSettings::Tls ftpTls = FtpSettings::Tls::Off;
    QString ftpCaFile;
    std::optional<QString> ftpUser;     // else the program's account
    std::optional<QString> ftpPassword; // else the program's account
    int ftpRetries = 0;
    int ftpRetryWait = 30; // seconds
    int ftpMaxRate = 0;    // KB/s; 0: no limit
    // SFTP only: a private key instead of the password, how the host key is checked, and where
    // remote paths start (empty: the account's home).
    QString ftpKeyFile;
    QString ftpKnownHosts;
    QString ftpHostKeySha256;
    QString ftpRemoteRoot;
    bool ftpOwnerCheck = true; // [ftp] owner_check=off: publish into a folder another company owns
    QString file;          // the file read; empty when the built-in values serve

    QString mobilePath() const;
    QString templatePath() const;
    QString maquinasPath() const;
    QString logFilePath() const;
};

// The built-in values, with nothing read.
AppSettings builtInSettings();

// Reads and checks the settings before anything is touched. Throws Error naming the file and the
// reason when it cannot be read or may have been changed by someone else, or the key and the value
// when a value is not one the program can use.
AppSettings loadSettings();

// The same checks on a file named explicitly.
AppSettings loadSettingsFrom(const QString& file);

// The FTP settings of the upload.
FtpSettings ftpSettings(const AppSettings& settings);

// The upload's settings for the protocol chosen.
UploadSettings uploadSettings(const AppSettings& settings);

} // namespace vela
