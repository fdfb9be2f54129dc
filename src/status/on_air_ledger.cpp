#include "status/on_air_ledger.h"

platform::AsRunLog::Start OnAirLedger::Start(Kind kind, const QString& name, const QString& file,
                                             int plannedMs) const {
    platform::AsRunLog::Start start;
    start.at = QDateTime::currentDateTime();
    start.kind = kind;
    start.plannedMs = plannedMs;
    start.file = file;
    // A file is recorded by its own name, as the movie named it.
    start.name = file.isEmpty() ? name : file.mid(file.lastIndexOf('\\') + 1);
    if (!file.isEmpty()) {
        const auto origin = log_->OriginOf(start.name);
        start.origin = origin.origin;
        start.listing = origin.listing;
    }
    return start;
}

void OnAirLedger::Begin(Kind kind, const What& what) {
    End(kind, Outcome::kCut);
    Item item{what.shown, QDateTime::currentDateTime(), what.plannedMs};
    if (log_) {
        item.asrunItem = log_->Begin(Start(kind, what.shown, what.file, what.plannedMs));
    }
    onAir_[kind] = item;
    ++Tally(kind).started;
}

void OnAirLedger::End(Kind kind, Outcome outcome, const QString& reason) {
    const auto it = onAir_.constFind(kind);
    if (it == onAir_.cend()) {
        return;
    }
    ++(outcome == Outcome::kFailed ? Tally(kind).failed : Tally(kind).ended);
    if (log_ && it->asrunItem != 0) {
        platform::AsRunLog::End end;
        end.at = QDateTime::currentDateTime();
        end.outcome = outcome;
        end.reason = reason;
        if (platform::ShockwaveFlash* movie = Player(kind)) {
            end.framesShown = movie->CurrentFrame() + 1;
            end.framesTotal = movie->TotalFrames();
        }
        log_->Finish(it->asrunItem, end);
    }
    onAir_.erase(it);
}

void OnAirLedger::EndAll(Outcome outcome) {
    for (const Kind kind : onAir_.keys()) {
        End(kind, outcome);
    }
}

void OnAirLedger::Failed(Kind kind, const QString& name, const QString& reason) {
    ++Tally(kind).failed;
    if (log_) {
        log_->Failed(Start(kind, name, QString(), 0), reason);
    }
}

bool OnAirLedger::MainAlone() const {
    return IsOnAir(Kind::kMain) && !IsOnAir(Kind::kInsert) && !IsOnAir(Kind::kFilm) &&
           !IsOnAir(Kind::kPhoto);
}
