#pragma once

#include "platform/words.h"

// What goes on air and how it leaves it: the words of the as-run log, the status answers
// and the metrics.
namespace on_air {

enum class Kind { kMain, kInsert, kFilm, kSound, kPhoto, kRadio };
inline constexpr words::Table<Kind, 6> kKinds = {{
    {Kind::kMain, "main"},
    {Kind::kInsert, "insert"},
    {Kind::kFilm, "film"},
    {Kind::kSound, "sound"},
    {Kind::kPhoto, "photo"},
    {Kind::kRadio, "radio"},
}};
static_assert(words::InOrder(kKinds));
inline QString Text(Kind kind) {
    return words::Word(kKinds, kind);
}

enum class Outcome { kEnded, kSkipped, kFailed, kCut, kCutByClose, kCutByPowerOff, kCutByRestart };
inline constexpr words::Table<Outcome, 7> kOutcomes = {{
    {Outcome::kEnded, "ended"},
    {Outcome::kSkipped, "skipped"},  // the operator skipped it
    {Outcome::kFailed, "failed"},    // with its reason
    {Outcome::kCut, "cut"},          // the next item of its kind took its place
    {Outcome::kCutByClose, "cut by close"},
    {Outcome::kCutByPowerOff, "cut by power-off"},
    {Outcome::kCutByRestart, "cut by restart"},  // found open after a crash
}};
static_assert(words::InOrder(kOutcomes));
inline QString Text(Outcome outcome) {
    return words::Word(kOutcomes, outcome);
}

// Items of one kind since the start: gone on air, gone off air, failed.
struct Counts {
    quint64 started = 0, ended = 0, failed = 0;
};

}  // namespace on_air
