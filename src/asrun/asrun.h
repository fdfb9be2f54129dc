#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The as-run log: what went on air, a JSON line when an item starts and one when it ends,
// a file a day ("YYYY-MM-DD.jsonl"). Each line carries "prev", the sha256 of the line
// before it (the day before's last line for a day's first), so that a line removed or
// altered shows.
namespace asrun {

// What "prev" holds when there is no line before.
inline const QByteArray kNoPrev(64, '0');

QByteArray Sha256Hex(const QByteArray& bytes);
// Local time with its UTC offset, to the millisecond: "2026-12-08T16:05:00.250+01:00".
QString Stamp(const QDateTime& time);
QDateTime ParseStamp(const QString& text);
QString DayFileName(QDate day);
// The day of a file name in exactly the form DayFileName writes; nullopt otherwise.
std::optional<QDate> DayOfFileName(const QString& name);

// One line (without its newline) of `fields`, chained to the line whose hash is `prev`.
QByteArray ChainLine(QJsonObject fields, const QByteArray& prev);

// A file's complete lines (a last line without its newline was cut short: not counted).
QList<QByteArray> Lines(const QByteArray& content);

// The seconds from one moment to a later one, to the millisecond; 0 when it is earlier.
double Seconds(const QDateTime& from, const QDateTime& to);

// What a run that did not close its log left on air: for each item that `lines` (the last
// days' lines, in order) start and never end, the record that ends it "cut by restart",
// in the order they started, without "prev" (the chain is the writer's). It ends at the
// latest moment the log knew the run was alive: the last stamp of `lines`, or
// `aliveUntil` when later, and never before its own start.
QList<QJsonObject> CutByRestart(const QList<QByteArray>& lines, const QDateTime& aliveUntil);

struct File {
    QString name;
    QByteArray content;
};
struct Verdict {
    qint64 lines = 0;
    QString broken;  // "FILE:LINE: why"; empty when the chain holds
};
// Checks the chain through `files` in the order given. The first line's "prev" is taken
// as it is, unless `before` (the hash of the line before it) is given.
Verdict Verify(const QList<File>& files, std::optional<QByteArray> before = std::nullopt);

// Per day and item (kind and name): how often it went on air, its seconds, and its first
// start and last end that day, as CSV with a header line. An item over midnight counts in
// both days, each with its part. `display` adds a first column of that value; `only`
// keeps the rows of that day. The header is not included.
QByteArray ReportCsv(const QList<File>& files, const QString& display = QString(),
                     std::optional<QDate> only = std::nullopt);
// The CSV header, with the display column or without.
QByteArray ReportHeader(bool withDisplay);

}  // namespace asrun
