#include "asrun/asrun.h"

#include "platform/asrun_record.h"
#include "platform/on_air.h"

#include <QCryptographicHash>
#include <QHash>
#include <QJsonDocument>
#include <QMap>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <tuple>

namespace asrun {

QByteArray Sha256Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QString Stamp(const QDateTime& time) {
    const QDateTime local = time.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QDateTime ParseStamp(const QString& text) {
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

QString DayFileName(QDate day) {
    return day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".jsonl");
}

std::optional<QDate> DayOfFileName(const QString& name) {
    static const QRegularExpression form(QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})\\.jsonl$"));
    const auto match = form.match(name);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const QDate day = QDate::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd"));
    return day.isValid() ? std::optional<QDate>(day) : std::nullopt;
}

QByteArray ChainLine(QJsonObject fields, const QByteArray& prev) {
    fields[field::kPrev] = QString::fromLatin1(prev);
    return QJsonDocument(fields).toJson(QJsonDocument::Compact);
}

QList<QByteArray> Lines(const QByteArray& content) {
    QList<QByteArray> lines = content.split('\n');
    lines.removeLast();  // after the last newline: empty, or a line cut short
    return lines;
}

double Seconds(const QDateTime& from, const QDateTime& to) {
    return std::max<qint64>(from.msecsTo(to), 0) / 1000.0;
}

QList<QJsonObject> CutByRestart(const QList<QByteArray>& lines, const QDateTime& aliveUntil) {
    QHash<QString, QJsonObject> open;
    QStringList order;
    QDateTime lastSeen = aliveUntil;
    for (const QByteArray& line : lines) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        const QString id = record.value(field::kId).toString();
        const QString event = record.value(field::kEvent).toString();
        if (event == event::kStart) {
            open.insert(id, record);
            order << id;
        } else if (event == event::kEnd) {
            open.remove(id);
        }
        const QDateTime at =
            ParseStamp(record.value(event == event::kEnd ? field::kEnd : field::kStart).toString());
        lastSeen = std::max(lastSeen, at);
    }
    QList<QJsonObject> ends;
    for (const QString& id : order) {
        if (!open.contains(id)) {
            continue;
        }
        QJsonObject record = open.take(id);
        const QDateTime start = ParseStamp(record.value(field::kStart).toString());
        const QDateTime end = std::max(lastSeen, start);
        record.remove(field::kPrev);
        record[field::kEvent] = event::kEnd;
        record[field::kEnd] = Stamp(end);
        record[field::kSeconds] = Seconds(start, end);
        record[field::kOutcome] = on_air::Text(on_air::Outcome::kCutByRestart);
        ends << record;
    }
    return ends;
}

Verdict Verify(const QList<File>& files, std::optional<QByteArray> before) {
    Verdict verdict;
    std::optional<QByteArray> prev = std::move(before);
    for (const File& file : files) {
        const QList<QByteArray> lines = Lines(file.content);
        const auto broken = [&](qsizetype line, const QString& why) {
            verdict.broken = QStringLiteral("%1:%2: %3").arg(file.name).arg(line + 1).arg(why);
        };
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QJsonParseError error{};
            const QJsonDocument doc = QJsonDocument::fromJson(lines[i], &error);
            if (error.error != QJsonParseError::NoError || !doc.isObject()) {
                broken(i, QStringLiteral("not a record"));
                return verdict;
            }
            const QByteArray said = doc.object().value(field::kPrev).toString().toLatin1();
            if (prev && said != *prev) {
                broken(i, QStringLiteral("the chain breaks: its \"prev\" is not the hash of the "
                                         "line before"));
                return verdict;
            }
            prev = Sha256Hex(lines[i]);
            ++verdict.lines;
        }
        if (!file.content.isEmpty() && !file.content.endsWith('\n')) {
            broken(lines.size(), QStringLiteral("the last line is cut short"));
            return verdict;
        }
    }
    return verdict;
}

namespace {

QByteArray CsvField(const QString& text) {
    if (!text.contains(QRegularExpression(QStringLiteral("[,\"\r\n]")))) {
        return text.toUtf8();
    }
    return '"' + QString(text).replace('"', QStringLiteral("\"\"")).toUtf8() + '"';
}

struct Tally {
    int times = 0;
    double seconds = 0;
    QDateTime first, last;
};

}  // namespace

QByteArray ReportHeader(bool withDisplay) {
    return QByteArray(withDisplay ? "display," : "") + "day,kind,name,times,seconds,first,last\n";
}

QByteArray ReportCsv(const QList<File>& files, const QString& display, std::optional<QDate> only) {
    QMap<std::tuple<QDate, QString, QString>, Tally> tallies;
    for (const File& file : files) {
        for (const QByteArray& line : Lines(file.content)) {
            const QJsonObject record = QJsonDocument::fromJson(line).object();
            if (record.value(field::kEvent).toString() != event::kEnd) {
                continue;
            }
            const QDateTime start = ParseStamp(record.value(field::kStart).toString());
            const QDateTime end = ParseStamp(record.value(field::kEnd).toString());
            if (!start.isValid() || !end.isValid() || end < start) {
                continue;
            }
            const QString kind = record.value(field::kKind).toString();
            const QString name = record.value(field::kName).toString();
            const QDateTime localStart = start.toLocalTime(), localEnd = end.toLocalTime();
            for (QDate day = localStart.date(); day <= localEnd.date(); day = day.addDays(1)) {
                if (only && day != *only) {
                    continue;
                }
                const QDateTime dayStart = day.startOfDay(), dayEnd = day.addDays(1).startOfDay();
                const QDateTime from = std::max(localStart, dayStart);
                const QDateTime to = std::min(localEnd, dayEnd);
                if (to < from || (to == from && localStart != localEnd)) {
                    continue;  // ends exactly at midnight: nothing of it the next day
                }
                Tally& tally = tallies[{day, kind, name}];
                ++tally.times;
                tally.seconds += from.msecsTo(to) / 1000.0;
                if (!tally.first.isValid() || from < tally.first) {
                    tally.first = from;
                }
                if (!tally.last.isValid() || to > tally.last) {
                    tally.last = to;
                }
            }
        }
    }
    QByteArray csv;
    for (auto it = tallies.cbegin(); it != tallies.cend(); ++it) {
        const auto& [day, kind, name] = it.key();
        if (!display.isNull()) {
            csv += CsvField(display) + ',';
        }
        csv += day.toString(Qt::ISODate).toUtf8() + ',' + CsvField(kind) + ',' + CsvField(name) +
               ',' + QByteArray::number(it->times) + ',' + QByteArray::number(it->seconds, 'f', 3) +
               ',' + Stamp(it->first).toUtf8() + ',' + Stamp(it->last).toUtf8() + '\n';
    }
    return csv;
}

}  // namespace asrun
