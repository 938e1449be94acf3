#pragma once

#include <QString>

#include <optional>

namespace vela {

// The mobile database of a synchronization run, built beside the published one: a copy of the
// template (or, where the template cannot be copied, of the database already there) under a name
// of this run in the same folder, filled there, and renamed over the mobile path only once it is
// whole and on disk. Until then the file at the mobile path is the previous whole database; a
// build that is not published is deleted with this object, and one left by a killed run is
// deleted when the next build begins.
class MobileBuild {
public:
    // Deletes what earlier builds of mobilePath left. Call under the run lock.
    explicit MobileBuild(QString mobilePath);
    ~MobileBuild();
    MobileBuild(const MobileBuild&) = delete;
    MobileBuild& operator=(const MobileBuild&) = delete;

    const QString& path() const { return path_; }

    // Starts the build from the template; false (and nothing left behind) when it cannot be copied.
    bool copyFrom(const QString& templatePath);
    // Starts it from the database at the mobile path instead. Throws Error when there is none.
    void copyPrevious();

    // Forced writes the published file must carry: the template's own (nothing), or on where the
    // build did not start from the template.
    std::optional<bool> forcedWrites() const { return fromTemplate_ ? std::nullopt : std::optional<bool>(true); }
    // Likewise the space reserved on its pages: the template's own, or the engine's default (on).
    std::optional<bool> reserveSpace() const { return fromTemplate_ ? std::nullopt : std::optional<bool>(true); }

    // Renames the build, already flushed to disk, over the mobile path and makes the rename
    // durable. Throws Error.
    void publish();

private:
    QString mobilePath_;
    QString path_;
    bool fromTemplate_ = false;
    bool published_ = false;
};

} // namespace vela
