#include "hosts_file.h"

#include <QFile>
#include <QRegularExpression>

namespace hosts {

using platform::Fail;
using platform::Result;

QString Display::Name() const {
    return (host.contains(':') ? '[' + host + ']' : host) + ':' + QString::number(port);
}

Result<Display> Parse(const QString& entry, quint16 defaultPort) {
    const QString text = entry.trimmed();
    Display display{text, defaultPort};
    QString portText;
    bool hasPort = false;
    if (text.startsWith('[')) {
        const qsizetype close = text.indexOf(']');
        if (close < 0) {
            return Fail(QStringLiteral("\"%1\" has no closing ]").arg(text));
        }
        display.host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(':')) {
                return Fail(QStringLiteral("\"%1\": only :PORT may follow ]").arg(text));
            }
            portText = rest.mid(1);
            hasPort = true;
        }
    } else if (text.count(':') == 1) {
        display.host = text.section(':', 0, 0);
        portText = text.section(':', 1);
        hasPort = true;
    }
    if (display.host.isEmpty() ||
        display.host.contains(QRegularExpression(QStringLiteral("\\s")))) {
        return Fail(QStringLiteral("\"%1\" is not a host").arg(text));
    }
    if (hasPort) {
        bool ok = false;
        const int port = portText.toInt(&ok);
        if (!ok || port <= 0 || port > 65535) {
            return Fail(
                QStringLiteral("\"%1\": the port must be a number from 1 to 65535").arg(text));
        }
        display.port = static_cast<quint16>(port);
    }
    return display;
}

Result<QList<Display>> ParseList(const QString& text, quint16 defaultPort) {
    QList<Display> displays;
    const QStringList lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString entry = lines[i].section('#', 0, 0).trimmed();
        if (entry.isEmpty()) {
            continue;
        }
        const auto display = Parse(entry, defaultPort);
        if (!display) {
            return Fail(QStringLiteral("line %1: %2").arg(i + 1).arg(display.reason()));
        }
        displays << *display;
    }
    return displays;
}

Result<QList<Display>> ReadFile(const QString& path, quint16 defaultPort) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    }
    const auto displays = ParseList(QString::fromUtf8(file.readAll()), defaultPort);
    if (!displays) {
        return Fail(path + ", " + displays.reason());
    }
    return displays;
}

}  // namespace hosts
