// --check: what a run would use, tried without changing anything, as sshd -t and nginx -t do.
#include "app/Check.h"

#include "app/Maquinas.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "app/StopSignals.h"
#include "common/Cp1252.h"
#include "common/Error.h"
#include "db/ModuloDadosCadastro.h"
#include "publish/RemotePath.h"
#include "publish/UploadStep.h"
#include "sync/CopyRules.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace vela {

namespace {

// One line of the report: what was checked, what was found.
void say(const std::string& what, const std::string& found) {
    std::printf("%s: %s\n", what.c_str(), found.c_str());
    std::fflush(stdout);
}

// A failure's text on the one line, as the summary line shows it: the database client's messages
// run over several.
std::string failed(const std::exception& e) {
    std::string text = e.what();
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    return "falhou: " + text;
}

// Where the source database is, as a run would find it: maquinas.txt when the working folder has
// one, else the settings.
std::optional<std::string> sourceDatabase(const AppSettings& settings) {
    if (!QFileInfo::exists(QStringLiteral("maquinas.txt")))
        return settings.sourceDatabase.toStdString();
    const std::string path = QFile::encodeName(settings.maquinasPath()).toStdString();
    try {
        const std::string source = sourcePathFromMaquinas(readMaquinasLine(path, [] {}), QDir::separator().toLatin1());
        say("maquinas.txt", path + " indica o banco " + source);
        return source;
    } catch (const std::exception& e) {
        say("maquinas.txt", failed(e));
        return std::nullopt;
    }
}

// The company's trade name (Windows-1252), read as step 2 reads it, in the source connection's own
// read-only transaction; nothing when the database cannot be read or has no active company.
std::optional<std::string> tradeName(const AppSettings& settings, const std::string& source) {
    try {
        TDMSistemaCadastro dm({source, settings.mobilePath().toStdString(), settings.sourceUser.toStdString(),
                               settings.sourcePassword.toStdString()});
        dm.FDConnectionBancoVela.open();
        Query& empresa = dm.FDQueryEmpresa;
        empresa.open();
        std::optional<std::string> name;
        if (!empresa.eof())
            name = std::string(readString(empresa.row(), empresa.field("NOMEFANTASIA")));
        empresa.close();
        dm.FDConnectionBancoVela.close();
        if (!name)
            say("Banco de retaguarda", source + " aberto, mas sem empresa ativa do tipo E: não há pasta remota");
        else
            say("Banco de retaguarda", source + " aberto; empresa: " + cp1252::toUtf8(*name));
        return name;
    } catch (const std::exception& e) {
        say("Banco de retaguarda", source + ": " + failed(e));
        return std::nullopt;
    }
}

std::string serverName(const AppSettings& s) {
    const bool sftp = s.ftpProtocol == AppSettings::Protocol::Sftp;
    std::string name = (sftp ? "sftp://" : "ftp://") + s.ftpHost.toStdString() + ":" + std::to_string(s.ftpPort);
    if (!sftp)
        name += s.ftpTls == FtpSettings::Tls::Off   ? " (sem TLS)"
                : s.ftpTls == FtpSettings::Tls::Try ? " (TLS se o servidor oferecer)"
                                                    : " (TLS exigido)";
    return name;
}

// Whether a listing failed because the folder is not there: an FTP server's 550, SFTP's "no such
// file".
bool missingFolder(const TransferError& e) {
    return e.reply() == 550 || e.code() == CURLE_REMOTE_FILE_NOT_FOUND;
}

// Logs in and, when the remote folder is known, lists it. Nothing is stored, renamed or deleted.
bool checkServer(const AppSettings& settings, const std::optional<std::string>& folder) {
    const std::unique_ptr<UploadTransport> transport = makeTransport(uploadSettings(settings));
    const std::string server = serverName(settings);
    // A stop signal ends the check at the server's next wait rather than after its time-out.
    transport->setWaiting([] {
        if (StopSignals::raised())
            throw Error("Execu\xc3\xa7\xc3\xa3o interrompida.");
    });
    try {
        transport->connect();
    } catch (const std::exception& e) {
        say("Servidor", server + ": " + failed(e));
        return false;
    }
    say("Servidor", server + ": conectado, login aceito");
    if (!folder) {
        transport->close();
        return true;
    }
    bool ok = false;
    try {
        const std::vector<std::string> names = transport->list(*folder);
        const bool published = std::find(names.begin(), names.end(), "BANCODADOS.gdb") != names.end();
        say("Pasta no servidor", *folder + " existe" +
                                     (published ? ", com o banco publicado (BANCODADOS.gdb)"
                                                : ", ainda sem o banco publicado (BANCODADOS.gdb)"));
        ok = true;
    } catch (const TransferError& e) {
        say("Pasta no servidor",
            *folder +
                (missingFolder(e) ? " não existe (o envio não a cria): " + std::string(e.what()) : ": " + failed(e)));
    } catch (const std::exception& e) {
        say("Pasta no servidor", *folder + ": " + failed(e));
    }
    transport->close();
    return ok;
}

} // namespace

int runCheck(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("atualizavela-movel"));
    // A signal raises the stop the check looks at between its steps and while the server is awaited.
    const StopSignals stopSignals([] {});
    QString reason;
    const std::optional<AppSettings> settings = settingsOrReason(reason);
    if (!settings) {
        say("Configuração", "recusada: " + reason.toStdString());
        return 2;
    }
    say("Configuração", settings->file.isEmpty()
                            ? std::string("nenhum arquivo encontrado; valem os valores embutidos")
                            : QFileInfo(settings->file).absoluteFilePath().toStdString() + " lida e conferida");

    bool ok = true;
    std::optional<std::string> folder;
    if (const std::optional<std::string> source = sourceDatabase(*settings)) {
        if (const std::optional<std::string> name = tradeName(*settings, *source)) {
            try {
                checkRemoteFolder(*name);
                const std::string path = remotePath(*name);
                folder = path.substr(0, path.rfind('/') + 1);
                say("Pasta remota", folder->c_str());
            } catch (const std::exception& e) {
                say("Pasta remota", failed(e));
                ok = false;
            }
        } else {
            ok = false;
        }
    } else {
        ok = false;
    }
    if (StopSignals::raised()) {
        say("Resultado", "interrompido");
        return 1;
    }
    ok = checkServer(*settings, folder) && ok;
    if (StopSignals::raised()) {
        say("Resultado", "interrompido");
        return 1;
    }
    say("Resultado", ok ? "tudo certo" : "há problemas; veja as linhas acima");
    return ok ? 0 : 1;
}

} // namespace vela
