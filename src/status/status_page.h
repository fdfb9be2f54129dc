#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

// The page a person opens on the status port: what /status says, labelled, in the
// display's local time, readable on a phone, refreshing itself.
namespace status_page {

// "12 s ago", "3 min ago", "5 h ago", "2 d ago"; "in 3 min" for a time ahead.
QString Ago(qint64 seconds);
// The page for a /status answer, as it stands at `now`.
QByteArray Page(const QJsonObject& status, const QDateTime& now);

}  // namespace status_page
