#include "content/content_names.h"

#include "platform/file_system.h"

#include <QRegularExpression>

namespace content {

QString RefusalReason(const QString& name, NameUse use) {
    if (name.isEmpty()) {
        return QStringLiteral("empty name");
    }
    if (name.startsWith('\\') || name.startsWith('/')) {
        return QStringLiteral("absolute name");
    }
    if (name.contains(':')) {
        return QStringLiteral("name with a drive");
    }
    if (!use.wildcards && (name.contains('*') || name.contains('?'))) {
        return QStringLiteral("name with a wildcard");
    }
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            return QStringLiteral("name with a control character");
        }
    }
    static const QRegularExpression separators(QStringLiteral("[\\\\/]"));
    const QStringList parts = name.split(separators);
    for (const QString& part : parts) {
        if (part == QLatin1String("..") || part == QLatin1String(".")) {
            return QStringLiteral("name that leaves the folder");
        }
    }
    if (parts.last().isEmpty()) {
        return QStringLiteral("name of a folder");
    }
    if (!use.subfolders && parts.size() > 1) {
        return QStringLiteral("name in a subfolder");
    }
    if (!use.hidden && name.startsWith('.')) {
        return QStringLiteral("hidden name");
    }
    if (platform::IsTemporaryName(parts.last())) {
        return QStringLiteral("name of a temporary file");
    }
    return QString();
}

}  // namespace content
