#pragma once

#include <QByteArray>
#include <QString>

namespace pushserver {

// The name in a destination message, as text: UTF-8 where it is valid, else one
// character per byte.
QString DecodeName(const QByteArray& bytes);

// Why a pushed name is refused, or an empty text when it stays inside the content
// folder: no empty name, "..", drive, leading separator, wildcard or control character.
QString RefusalReason(const QString& name);

}  // namespace pushserver
