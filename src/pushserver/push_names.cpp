#include "pushserver/push_names.h"

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

}  // namespace pushserver
