#pragma once

#include "content/content_check.h"
#include "platform/flash_player.h"
#include "platform/on_air.h"
#include "platform/words.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// The status answers as functions of what the display was when it was asked: the status
// service fills a snapshot, these put it into words.
namespace status_report {

// How an update cycle ended.
enum class CycleResult { kOk, kFilesFailed, kNoListing, kClosed };
inline constexpr words::Table<CycleResult, 4> kCycleResults = {{
    {CycleResult::kOk, "ok"},
    {CycleResult::kFilesFailed, "files failed"},
    {CycleResult::kNoListing, "no listing"},
    {CycleResult::kClosed, "closed"},
}};
static_assert(words::InOrder(kCycleResults));
inline QString Text(CycleResult result) {
    return words::Word(kCycleResults, result);
}

// Bytes a cycle did not fetch or write again: a file the site said was not modified (not
// sent), a body that was the file in place (not written), the part of a broken transfer
// (not sent again).
enum class Saved { kNotModified, kUnchanged, kResumed };
inline constexpr words::Table<Saved, 3> kSavedBy = {{
    {Saved::kNotModified, "not_modified"},
    {Saved::kUnchanged, "unchanged"},
    {Saved::kResumed, "resumed"},
}};
static_assert(words::InOrder(kSavedBy));

// A fetched file that was not what its name says, and so did not replace the one in place.
struct RefusedFile {
    QString file, reason;
};

struct Cycle {
    QDateTime start, end;
    std::optional<CycleResult> result;  // none while it runs
    int fetched = 0;
    int failed = 0;
    qint64 bytes = 0;
    QString listingSha256;
    QList<RefusedFile> refused;
    std::array<qint64, kSavedBy.size()> saved{};  // bytes, by how
};

// The event loop's lateness: a 100 ms tick that comes late by this much.
inline constexpr std::array<double, 10> kLateBounds = {0.005, 0.01, 0.025, 0.05, 0.1,
                                                       0.25,  0.5,  1,     2.5,  5};
struct Lateness {
    std::array<quint64, kLateBounds.size() + 1> counts{};  // the last one: above them all
    double sum = 0;
    void Add(double late);
};

// The content folder as last counted; -1 where not yet.
struct Content {
    QDateTime measured;
    qint64 files = -1;
    qint64 bytes = -1;
    qint64 freeBytes = -1;
};

struct Snapshot {
    QDateTime now, started;
    QString version, host, timeZone, statusLine;
    QStringList warnings;

    struct Item {
        on_air::Kind kind = on_air::Kind::kMain;
        QString name;
        QDateTime since;
        int plannedMs = 0;
        int frame = -1, frames = -1;  // movies only
    };
    QList<Item> onAir;  // in the order of the kinds
    std::array<on_air::Counts, on_air::kKinds.size()> items{};

    struct Radio {
        QString address, source, lastReason;
        bool playing = false;
        int retries = 0;  // starts since its stream went away
        int drops = 0;    // times in a row it stopped
        quint64 retriesTotal = 0;
    } radio;

    Cycle lastCycle;
    bool updating = false;
    std::array<quint64, kCycleResults.size()> cyclesByResult{};
    quint64 bytesFetched = 0;
    std::array<quint64, kSavedBy.size()> bytesSaved{};  // since the start, by how
    // Files refused by every road (cycle, push, import), by reason.
    std::array<quint64, content::kRefusals.size()> refusals{};

    Content content;
    qint64 keptFreeBytes = 0;
    double pssMiB = -1;  // -1: not measured
    int ceilingMiB = 0;

    struct Push {
        quint64 files = 0, refused = 0;
        QString lastPeer, lastFile;
    } push;

    QString powerOffTime;
    QDateTime nextPowerOff;
    bool powerOffRequested = false;
    std::optional<bool> clockSynchronised;

    struct Engine {
        const char* player;  // "main" or "insert"
        platform::ShockwaveFlash::EngineFigures figures;
    };
    std::array<Engine, 2> engines{{{"main", {}}, {"insert", {}}}};

    Lateness lateness;

    QString missingMainMovie;  // the main movie's path when it is not there
    // Nothing to play (faults), or the last good main movie standing in (warnings).
    QStringList mainMovieFaults, mainMovieWarnings;
    QStringList selfCheck;  // what the program's look at itself found
    QString asrunTrouble;
};

// "OK", "DEGRADED", "SCHEDULED_OFF" or "FAULT", and why.
// A time as the answers give it: ISO 8601 with its offset, to the millisecond; "" when
// there is none.
QString Iso(const QDateTime& time);

struct Verdict {
    QString state;
    QStringList reasons;
};
Verdict Judge(const Snapshot& s);

QJsonObject Json(const Snapshot& s);
// The Prometheus text form.
QByteArray Metrics(const Snapshot& s);

}  // namespace status_report
