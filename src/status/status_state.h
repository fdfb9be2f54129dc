#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QMap>
#include <QString>

#include <array>
#include <optional>
#include <utility>

// What the status server reports that no other part keeps: what is on air, what was
// counted since the start, the last update cycle. Written by the routines that do the
// work, read only by the status routines.
struct StatusRecord {
    QDateTime started;
    // What is on air now, by kind: "main", "insert", "film", "sound", "photo", "radio".
    struct Item {
        QString name;
        QDateTime start;
        int plannedMs = 0;      // a photo's time
        quint64 asrunItem = 0;  // its number in the as-run log
    };
    QMap<QString, Item> onAir;
    QMap<QString, quint64> itemsStarted, itemsEnded, itemsFailed;  // by kind

    // How an update cycle ended, and its word in the status answers.
    enum class CycleResult { kOk, kFilesFailed, kNoListing, kClosed };
    static constexpr std::array kCycleResults = {
        std::pair{CycleResult::kOk, "ok"},
        std::pair{CycleResult::kFilesFailed, "files failed"},
        std::pair{CycleResult::kNoListing, "no listing"},
        std::pair{CycleResult::kClosed, "closed"},
    };
    static QString Text(CycleResult result) {
        return QString::fromLatin1(kCycleResults[static_cast<size_t>(result)].second);
    }

    struct Cycle {
        QDateTime start, end;
        std::optional<CycleResult> result;  // none while it runs
        int fetched = 0;
        int failed = 0;
        qint64 bytes = 0;
        QString listingSha256;
    };
    Cycle lastCycle;
    std::array<quint64, kCycleResults.size()> cyclesByResult{};
    quint64 bytesFetched = 0;

    quint64 pushes = 0;  // files received
    quint64 pushRefusals = 0;
    quint64 radioRetries = 0;  // starts of the radio in its outages
    QString lastPushPeer, lastPushFile;
    bool powerOffRequested = false;

    // The event loop's lateness: a 100 ms tick that comes late by this much.
    static constexpr std::array<double, 10> kLateBounds = {0.005, 0.01, 0.025, 0.05, 0.1,
                                                           0.25,  0.5,  1,     2.5,  5};
    std::array<quint64, kLateBounds.size() + 1> lateCounts{};  // the last one: above them all
    double lateSum = 0;
    QElapsedTimer loopClock;
    qint64 lastTickNs = 0;

    // The content folder, counted on a worker at most every few seconds.
    struct Content {
        QDateTime measured;
        qint64 files = -1;
        qint64 bytes = -1;
        qint64 freeBytes = -1;
        bool scanning = false;
    };
    Content content;

    // The program's memory as last read (from /proc, for every engine process): a request
    // reads it again only once it is older than a few seconds.
    struct Memory {
        QElapsedTimer measured;
        double mib = -1;
    };
    Memory memory;

    // The flash engine's recoveries of the last ten minutes (one per incident), the last
    // one's reason, and why the program ends at the next quiet moment (none: it does not).
    QList<QDateTime> engineRecoveries;
    QString lastRecovery;
    std::optional<QString> restartPending;

    // The program's own look at its picture: a thumbnail every few seconds.
    struct Picture {
        QImage last;
        QDateTime blackSince;  // invalid while not black
        QDateTime sameSince;   // unchanged while the main movie alone is shown; or invalid
    };
    Picture picture;

    // The latest screenshot, shared by all who ask within a second.
    QImage shot;
    QDateTime shotTaken;
};

// Each result's word stands at the result's own place.
static_assert([] {
    for (size_t i = 0; i < StatusRecord::kCycleResults.size(); ++i) {
        if (static_cast<size_t>(StatusRecord::kCycleResults[i].first) != i) {
            return false;
        }
    }
    return true;
}());

// What the picture's look says for the status: black for a minute, or still for ten
// minutes while the main movie alone is shown. Reported only: a still picture may be meant.
QStringList PictureReasons(const StatusRecord::Picture& picture, const QDateTime& now);
// The flash engine's recoveries of the ten minutes before `now`, and a restart waiting for
// a quiet moment.
QStringList EngineReasons(const StatusRecord& record, const QDateTime& now);
