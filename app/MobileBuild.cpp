#include "app/MobileBuild.h"

#include "common/Error.h"
#include "common/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace vela {

namespace {

std::filesystem::path native(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// A plain copy: the target is a name of this run that nobody else opens, and the whole file is
// flushed once it is filled.
std::error_code copy(const QString& from, const QString& to) {
    std::error_code error;
    if (!copyFile(QFile::encodeName(from).toStdString(), QFile::encodeName(to).toStdString()))
        error.assign(errno, std::generic_category());
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(native(to), ignored);
    }
    return error;
}

} // namespace

MobileBuild::MobileBuild(QString mobilePath) : mobilePath_(std::move(mobilePath)) {
    const QFileInfo mobile(mobilePath_);
    QDir folder = mobile.dir();
    // <name>.<pid>.tmp: the run lock keeps every other run of this database away, so each one found
    // is a build of a run that was killed.
    const QRegularExpression leftover(QStringLiteral("^") + QRegularExpression::escape(mobile.fileName()) +
                                      QStringLiteral("\\.\\d+\\.tmp$"));
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (leftover.match(name).hasMatch())
            folder.remove(name);
    path_ = mobilePath_ + QStringLiteral(".%1.tmp").arg(::getpid());
}

MobileBuild::~MobileBuild() {
    if (!published_)
        QFile::remove(path_);
}

bool MobileBuild::copyFrom(const QString& templatePath) {
    fromTemplate_ = !copy(templatePath, path_);
    return fromTemplate_;
}

void MobileBuild::copyPrevious() {
    if (const std::error_code error = copy(mobilePath_, path_))
        throw fileError("copy", mobilePath_.toStdString(), error.value());
}

void MobileBuild::publish() {
    const QByteArray from = QFile::encodeName(path_);
    const QByteArray to = QFile::encodeName(mobilePath_);
    if (::rename(from.constData(), to.constData()) != 0)
        throw fileError("rename", path_.toStdString(), errno);
    published_ = true;
    syncToDisk(QFile::encodeName(QFileInfo(mobilePath_).absolutePath()).toStdString());
}

} // namespace vela
