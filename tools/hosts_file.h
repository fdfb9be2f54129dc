#pragma once

#include "platform/result.h"

#include <QList>
#include <QString>

// The displays a fleet tool talks to, as an engineer writes them: one a line, HOST,
// HOST:PORT, [IPV6] or [IPV6]:PORT (a bare IPv6 address is a host too), and `#` starts a
// comment.
namespace hosts {

struct Display {
    QString host;  // without brackets
    quint16 port = 0;
    // HOST:PORT, [IPV6]:PORT: how a person and a URL write it.
    QString Name() const;
};

// One entry, with `defaultPort` where it names none.
platform::Result<Display> Parse(const QString& entry, quint16 defaultPort);
// Every entry of a file's text; an entry that is not a display fails the whole, with its
// line's number.
platform::Result<QList<Display>> ParseList(const QString& text, quint16 defaultPort);
// The same, read from a file.
platform::Result<QList<Display>> ReadFile(const QString& path, quint16 defaultPort);

}  // namespace hosts
