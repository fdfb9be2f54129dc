#include "platform/file_system.h"

namespace platform {

bool FileSystem::IsDrivePath(const QString& path) const {
    const bool driveSpec = path.size() >= 2 && path[1] == ':' && path[0].isLetter();
    return driveSpec && HostPath(path).has_value();
}

}  // namespace platform
