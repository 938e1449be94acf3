#pragma once

#include "publish/FtpClient.h"

#include <QString>

#include <optional>

namespace vela {

// Where the program finds its files, read from atualizavela-movel.ini beside the executable (or
// the file ATUALIZAVELA_CONFIG names).
struct AppSettings {
    QString mobileFolder;   // holds Banco/VAZIO.GDB, Banco/BANCODADOS.gdb and maquinas.txt
    QString sourceDatabase; // the initial source path
    QString ftpHost;
    int ftpPort = 21;
    int ftpTimeout = 60; // seconds
    QString ftpTls = QStringLiteral("off");
    QString ftpCaFile;
    std::optional<QString> ftpUser;     // else the program's account
    std::optional<QString> ftpPassword; // else the program's account
    // Why the [ftp] section cannot be used; reported when the upload starts.
    QString ftpProblem;

    QString mobilePath() const;
    QString templatePath() const;
    QString maquinasPath() const;
};

AppSettings loadSettings();

// The FTP settings of the upload. Throws Error with ftpProblem, or for a tls value it does not know.
FtpSettings ftpSettings(const AppSettings& settings);

} // namespace vela
