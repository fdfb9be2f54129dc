#pragma once

#include <QByteArray>
#include <QString>

namespace pushserver {

// The name in a destination message, as text: UTF-8 where it is valid, else one
// character per byte.
QString DecodeName(const QByteArray& bytes);

}  // namespace pushserver
