#include "status/status_report.h"
#include "status/on_air_ledger.h"
#include "support/fakes.h"

#include <QJsonArray>

#include <gtest/gtest.h>

namespace {

using on_air::Kind;
using on_air::Outcome;
using status_report::Snapshot;

// Records what the ledger writes, as the log's lines would say it.
class RecordingLog : public platform::AsRunLog {
  public:
    QStringList lines;
    quint64 Begin(const Start& s) override {
        lines << QStringLiteral("start %1 %2 file=%3").arg(on_air::Text(s.kind), s.name, s.file);
        return static_cast<quint64>(lines.size());
    }
    void Finish(quint64 item, const End& e) override {
        lines << QStringLiteral("end #%1 %2 %3 frames=%4/%5")
                     .arg(item)
                     .arg(on_air::Text(e.outcome), e.reason)
                     .arg(e.framesShown)
                     .arg(e.framesTotal);
    }
    void NoteOrigin(const QString&, const Origin&) override {}
    void StoreOrigins() override {}
    Origin OriginOf(const QString&) const override { return {}; }
    void ReadDay(QDate, std::function<void(std::optional<QByteArray>)>) override {}
    QString Trouble() const override { return {}; }
    bool Flush(int) override { return true; }
};

}  // namespace

// The state and its reasons: a fault outranks a power-off, which outranks what is only
// degraded; each reason appears in the order the station reads them.
TEST(StatusReport, StateFollowsTheWorstReason) {
    const struct {
        const char* what;
        std::function<void(Snapshot&)> make;
        const char* state;
        const char* reasons;
    } cases[] = {
        {"nothing wrong", [](Snapshot&) {}, "OK", ""},
        {"no main movie", [](Snapshot& s) { s.missingMainMovie = "c:\\fileftp\\dravonelle.swf"; },
         "FAULT", "no main movie at c:\\fileftp\\dravonelle.swf"},
        {"power-off asked, cycle failed",
         [](Snapshot& s) {
             s.powerOffRequested = true;
             s.lastCycle.result = status_report::CycleResult::kNoListing;
         },
         "SCHEDULED_OFF", "last update cycle: no listing"},
        {"disk, memory, radio, self-check and as-run, in that order",
         [](Snapshot& s) {
             s.content.freeBytes = 10 << 20;
             s.keptFreeBytes = 64 << 20;
             s.pssMiB = 950;
             s.ceilingMiB = 1000;
             s.radio.drops = 3;
             s.selfCheck = {"picture: black for 61 s"};
             s.asrunTrouble = "as-run log: waiting";
         },
         "DEGRADED",
         "disk: 10 MiB free, 64 MiB kept free | memory: 950 MiB of a 1000 MiB ceiling | radio "
         "stream stopped 3 times in a row | picture: black for 61 s | as-run log: waiting"},
        {"memory not measured, free space not counted",
         [](Snapshot& s) {
             s.pssMiB = -1;
             s.content.freeBytes = -1;
             s.keptFreeBytes = 64 << 20;
         },
         "OK", ""},
    };
    for (const auto& c : cases) {
        Snapshot s;
        s.ceilingMiB = 1000;
        c.make(s);
        const auto verdict = status_report::Judge(s);
        EXPECT_EQ(verdict.state.toStdString(), c.state) << c.what;
        EXPECT_EQ(verdict.reasons.join(" | ").toStdString(), c.reasons) << c.what;
        const QJsonObject json = status_report::Json(s);
        EXPECT_EQ(json["state"].toString(), verdict.state) << c.what;
        EXPECT_TRUE(status_report::Metrics(s).contains(
            QStringLiteral("dravonelle_state{state=\"%1\"} 1\n").arg(c.state).toUtf8()))
            << c.what;
    }
}

// The ledger: an item of a kind cuts the one before it; a failure keeps its reason apart
// from its outcome; a name a movie gave is recorded as a name, even when it looks like a
// path; movies end with their frames; the counts follow.
TEST(OnAirLedger, WritesTheAsRunLogAndCountsByKind) {
    RecordingLog log;
    FakeFlash main, insert;
    main.currentFrame = 4;
    main.totalFrames = 10;
    OnAirLedger ledger(&log, main, insert);
    ledger.Begin(Kind::kMain, OnAirLedger::File("c:\\fileftp\\a.swf"));
    ledger.Begin(Kind::kMain, OnAirLedger::File("c:\\fileftp\\b.swf"));
    ledger.Begin(Kind::kRadio, {"http://radio/live", QString()});
    EXPECT_TRUE(ledger.MainAlone());
    ledger.Begin(Kind::kPhoto, {"p.jpg", "c:\\fileftp\\p.jpg", 5000});
    EXPECT_FALSE(ledger.MainAlone());
    ledger.End(Kind::kRadio, Outcome::kFailed, "the stream stopped");
    ledger.End(Kind::kRadio, Outcome::kEnded);  // nothing of that kind on air: nothing
    ledger.Failed(Kind::kInsert, "d:\\elsewhere.swf", "no such file");
    ledger.EndAll(Outcome::kCutByClose);
    EXPECT_EQ(log.lines, (QStringList{
                             "start main a.swf file=c:\\fileftp\\a.swf",
                             "end #1 cut  frames=5/10",
                             "start main b.swf file=c:\\fileftp\\b.swf",
                             "start radio http://radio/live file=",
                             "start photo p.jpg file=c:\\fileftp\\p.jpg",
                             "end #4 failed the stream stopped frames=-1/-1",
                             "start insert d:\\elsewhere.swf file=",
                             "end #7 failed no such file frames=-1/-1",
                             "end #3 cut by close  frames=5/10",
                             "end #5 cut by close  frames=-1/-1",
                         }))
        << log.lines.join('\n').toStdString();
    EXPECT_TRUE(ledger.OnAir().isEmpty());
    const auto counts = [&](Kind kind) {
        const auto& c = ledger.CountsOf(kind);
        return std::tuple(c.started, c.ended, c.failed);
    };
    EXPECT_EQ(counts(Kind::kMain), std::tuple(2u, 2u, 0u));
    EXPECT_EQ(counts(Kind::kRadio), std::tuple(1u, 0u, 1u));
    EXPECT_EQ(counts(Kind::kInsert), std::tuple(0u, 0u, 1u));
    EXPECT_EQ(counts(Kind::kPhoto), std::tuple(1u, 1u, 0u));
}
