#include "platform/file_system.h"

#include <QDateTime>
#include <QFileInfo>

namespace platform {

bool HasDriveSpec(const QString& path) {
    return path.size() >= 2 && path[1] == ':' && path[0].isLetter();
}

bool FileSystem::IsDrivePath(const QString& path) const {
    return HasDriveSpec(path) && HostPath(path).has_value();
}

QString FileSystem::Identity(const QString& path) const {
    const QFileInfo info(HostPath(path).value_or(QString()));
    return info.isFile() ? QStringLiteral("%1 bytes, %2")
                               .arg(info.size())
                               .arg(info.lastModified().toMSecsSinceEpoch())
                         : QString();
}

}  // namespace platform
