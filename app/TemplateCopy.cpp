#include "app/TemplateCopy.h"

#include <QFile>
#include <QSaveFile>

#include <unistd.h>

namespace vela {

bool replaceWithCopy(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() || out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            break;
        }
    }
    if (!out.flush() || ::fsync(out.handle()) != 0)
        out.cancelWriting();
    // A cancelled file is thrown away here instead of renamed.
    return out.commit();
}

} // namespace vela
