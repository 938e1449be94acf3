#pragma once

#include <QString>

namespace vela {

// Where the program finds its files, read from atualizavela-movel.ini beside the executable (or
// the file ATUALIZAVELA_CONFIG names).
struct AppSettings {
    QString mobileFolder;   // holds Banco/VAZIO.GDB, Banco/BANCODADOS.gdb and maquinas.txt
    QString sourceDatabase; // the initial source path
    QString ftpHost;
    int ftpPort = 21;

    QString mobilePath() const;
    QString templatePath() const;
    QString maquinasPath() const;
};

AppSettings loadSettings();

} // namespace vela
