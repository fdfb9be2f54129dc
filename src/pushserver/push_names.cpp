#include "pushserver/push_names.h"

#include <QRegularExpression>
#include <QStringDecoder>

namespace pushserver {

QString DecodeName(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString name = utf8.decode(bytes);
    if (utf8.hasError()) {
        name = QString::fromLatin1(bytes);
    }
    return name;
}

QString RefusalReason(const QString& name) {
    if (name.isEmpty()) {
        return QStringLiteral("empty name");
    }
    if (name.startsWith('\\') || name.startsWith('/')) {
        return QStringLiteral("absolute name");
    }
    if (name.contains(':')) {
        return QStringLiteral("name with a drive");
    }
    if (name.contains('*') || name.contains('?')) {
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
    return QString();
}

}  // namespace pushserver
