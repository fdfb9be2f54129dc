#include "platform/file_system.h"

namespace platform {

bool HasDriveSpec(const QString& path) {
    return path.size() >= 2 && path[1] == ':' && path[0].isLetter();
}

bool FileSystem::IsDrivePath(const QString& path) const {
    return HasDriveSpec(path) && HostPath(path).has_value();
}

}  // namespace platform
