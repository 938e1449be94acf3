// What the run leaves behind when it fails or ends: the error box, the run log file and the exit.
#include "app/principal.h"

#include "app/NormalCursor.h"
#include "common/Error.h"
#include "db/ModuloDadosCadastro.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace vela {

namespace {

const char* const kLogFileName = "logAtualizaVela-Movel.txt";

// Writes the run log file from the log's pieces as they come.
std::optional<QString> writeFile(const QString& path, RunLog& log) {
    auto failure = [&path](int error) { return QString::fromUtf8(fileError("create", path.toStdString(), error).what()); };
    QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return failure(errno);
    int error = 0;
    log.writeContent([&](std::string_view bytes) {
        size_t done = 0;
        while (error == 0 && done < bytes.size()) {
            ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n == 0 || errno != EINTR)
                error = n == 0 ? EIO : errno;
        }
    });
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        return failure(error);
    return std::nullopt;
}

} // namespace

QString TfrmPrincipal::logFilePath() const {
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QLatin1Char('/')) +
           QLatin1String(kLogFileName);
}

bool TfrmPrincipal::saveLog() {
    if (auto error = writeFile(logFilePath(), log_)) {
        errorBox(*error);
        return false;
    }
    return true;
}

void TfrmPrincipal::errorBox(const QString& message) {
    lastError_ = message;
    failed_ = true;
    progress_.failed(message);
    log_.flush();
    if (!headless_ && !stopping()) {
        NormalCursor normal;
        QMessageBox::critical(this, QCoreApplication::applicationName(), message);
        return;
    }
    // Nobody can close a box here: the message goes to standard error, and an unattended run
    // saves its log and ends as failed instead of waiting.
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    if (unattended_ || stopping()) {
        if (auto error = writeFile(logFilePath(), log_))
            std::fprintf(stderr, "%s\n", error->toLocal8Bit().constData());
        endProgram(1);
    }
}

void TfrmPrincipal::failAndEnd(const QString& message) {
    progress_.failed(message);
    appendLine(message);
    if (!saveLog())
        return;
    endProgram(1);
}

void TfrmPrincipal::endProgram(int code) {
    ended_ = true;
    exitCode_ = code;
    progress_.finish();
    log_.flush();
    if (dm_) {
        try {
            dm_->release();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
        }
    }
    close();
    QCoreApplication::exit(code);
}

void TfrmPrincipal::stopSilently() {
    failed_ = true;
    log_.flush();
    const QString last = unattended_ || stopping() ? log_.lastLine() : QString();
    progress_.failed(last);
    if ((headless_ && unattended_) || stopping()) {
        // Nobody will look at the window: say why on standard error, keep the log, fail the run.
        std::fprintf(stderr, "%s\n", last.toLocal8Bit().constData());
        if (auto error = writeFile(logFilePath(), log_))
            std::fprintf(stderr, "%s\n", error->toLocal8Bit().constData());
        endProgram(1);
    }
}

} // namespace vela
