#pragma once

#include <QString>
#include <QStringList>

#include <ostream>

// Readable Qt values in test failures.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '{';
    for (qsizetype i = 0; i < list.size(); ++i) {
        *os << (i ? ", " : "") << '"' << list[i].toStdString() << '"';
    }
    *os << '}';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"' << bytes.left(200).toStdString() << (bytes.size() > 200 ? "...\"" : "\"");
}
