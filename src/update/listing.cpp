#include "update/listing.h"

#include <QUrl>

namespace update {

namespace {

QString Key(const QString& name, const QString& stamp) {
    return name + QChar(0) + stamp;
}

}  // namespace

QStringList SplitListing(const QString& text) {
    if (text.isEmpty()) {
        return {};
    }
    return text.split(QLatin1Char(';'));
}

PreviousListing::PreviousListing(const QStringList& fields) {
    for (qsizetype i = 0; i + 1 < fields.size(); i += 3) {
        entries_.insert(Key(fields[i], fields[i + 1]));
    }
}

bool PreviousListing::Matches(const QString& name, const QString& stamp) const {
    return entries_.contains(Key(name, stamp));
}

qint64 SizeField(const QString& field) {
    bool ok = false;
    const qint64 size = field.trimmed().toLongLong(&ok);
    return ok && size > 0 ? size : 0;
}

QString AddressSegment(const QString& name) {
    return QString::fromLatin1(QUrl::toPercentEncoding(name));
}

bool IsExcludedName(const QString& name) {
    return name == QLatin1String(".") || name == QLatin1String("..") ||
           name == QLatin1String("dir.php") || name == QLatin1String("file.txt");
}

}  // namespace update
