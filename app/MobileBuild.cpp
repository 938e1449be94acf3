#include "app/MobileBuild.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/TemporaryName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace vela {

namespace {

constexpr std::string_view kBuildSuffix = ".tmp";

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
    // The run lock keeps every other run of this database away, so each build found is one of a
    // run that was killed.
    const std::string base = QFile::encodeName(mobile.fileName()).toStdString();
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (isTemporaryName(QFile::encodeName(name).toStdString(), base, kBuildSuffix))
            folder.remove(name);
    path_ = mobilePath_ + QFile::decodeName(temporaryName({}, processTag(), kBuildSuffix).c_str());
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
