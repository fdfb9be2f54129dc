#pragma once

#include "platform/asrun_record.h"
#include "platform/on_air.h"

#include <QDate>
#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

namespace platform {

// Where the as-run log goes: a record of every item that went on air, written off the
// window's thread, kept within a second of the event where a crash of the program does
// not lose it, and on the disk within a minute.
class AsRunLog {
  public:
    struct Start {
        QDateTime at;
        on_air::Kind kind = on_air::Kind::kMain;
        QString name;  // as the movie named it
        QString file;  // the drive path that plays (its sha256 is taken); empty: none
        QString origin = asrun::origin::kUnknown;  // a word of asrun::origin
        QString listing;                           // the listing's stamp, for a site file
        int plannedMs = 0;                         // a photo's time
    };
    struct End {
        QDateTime at;
        on_air::Outcome outcome = on_air::Outcome::kEnded;
        QString reason;                          // why it failed
        int framesShown = -1, framesTotal = -1;  // movies only
    };
    virtual ~AsRunLog() = default;
    // Records the start of an item; the number its end is recorded under.
    virtual quint64 Begin(const Start& start) = 0;
    virtual void Finish(quint64 item, const End& end) = 0;
    // An item that could not go on air: a start and an end at once.
    void Failed(const Start& start, const QString& reason) {
        End end;
        end.at = start.at;
        end.outcome = on_air::Outcome::kFailed;
        end.reason = reason;
        Finish(Begin(start), end);
    }
    // How a content file last came (by its name, in any case), kept across starts.
    struct Origin {
        QString origin = asrun::origin::kUnknown;
        QString listing;
    };
    // Notes an origin in memory; StoreOrigins puts what changed on the disk, once a cycle,
    // a push or an import (and at the close), so that a cycle of many files writes it once.
    virtual void NoteOrigin(const QString& name, const Origin& origin) = 0;
    virtual void StoreOrigins() = 0;
    virtual Origin OriginOf(const QString& name) const = 0;
    // A day's file as it is on the disk, read off the window's thread; `done` comes
    // through the event loop, with nullopt when there is none.
    virtual void ReadDay(QDate day, std::function<void(std::optional<QByteArray>)> done) = 0;
    // Empty, or why lines are waiting (the disk below its reserve).
    virtual QString Trouble() const = 0;
    // Waits, at most `ms`, until what was recorded is on the disk.
    virtual bool Flush(int ms) = 0;
};

}  // namespace platform
