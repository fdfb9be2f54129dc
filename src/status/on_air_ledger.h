#pragma once

#include "platform/asrun_log.h"
#include "platform/flash_player.h"
#include "platform/on_air.h"

#include <QDateTime>
#include <QMap>
#include <QString>

#include <array>

// What is on air now, by kind, and what went on and off air since the start. The routines
// that put an item on air or take it off report here; the ledger writes the as-run log and
// the status reads it.
class OnAirLedger {
  public:
    using Kind = on_air::Kind;
    using Outcome = on_air::Outcome;

    // What goes on air: how the status shows it, and the drive path of the file that plays
    // (empty for the radio, which plays an address).
    struct What {
        QString shown;
        QString file;
        int plannedMs = 0;  // a photo's time
    };
    static What File(const QString& path) { return {path, path}; }

    struct Item {
        QString shown;
        QDateTime start;
        int plannedMs = 0;
        quint64 asrunItem = 0;  // its number in the as-run log
    };
    using Counts = on_air::Counts;

    // `log` may be null (no as-run log); the players give a movie's frames at its end.
    OnAirLedger(platform::AsRunLog* log, platform::ShockwaveFlash& main,
                platform::ShockwaveFlash& insert)
        : log_(log), main_(main), insert_(insert) {}

    // `what` goes on air; what was on air of its kind is cut.
    void Begin(Kind kind, const What& what);
    // What is on air of `kind` (if anything) goes off air; `reason` says why it failed.
    void End(Kind kind, Outcome outcome, const QString& reason = QString());
    // Everything on air goes off air.
    void EndAll(Outcome outcome);
    // An item could not go on air; `name` as the movie named it.
    void Failed(Kind kind, const QString& name = QString(), const QString& reason = QString());

    const QMap<Kind, Item>& OnAir() const { return onAir_; }
    bool IsOnAir(Kind kind) const { return onAir_.contains(kind); }
    // The main movie alone fills the screen: no insert, film or photo in front of it.
    bool MainAlone() const;
    const Counts& CountsOf(Kind kind) const { return counts_[static_cast<size_t>(kind)]; }
    // The player of a kind's movies (main, insert); none for the other kinds.
    platform::ShockwaveFlash* Player(Kind kind) const {
        return kind == Kind::kMain ? &main_ : kind == Kind::kInsert ? &insert_ : nullptr;
    }

  private:
    platform::AsRunLog::Start Start(Kind kind, const QString& name, const QString& file,
                                    int plannedMs) const;
    Counts& Tally(Kind kind) { return counts_[static_cast<size_t>(kind)]; }

    platform::AsRunLog* log_;
    platform::ShockwaveFlash& main_;
    platform::ShockwaveFlash& insert_;
    QMap<Kind, Item> onAir_;
    std::array<Counts, on_air::kKinds.size()> counts_{};
};
