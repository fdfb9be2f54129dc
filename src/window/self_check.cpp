// The program watches itself: an engine that was started afresh too often leads to a
// fresh start of the whole program, and a picture that stays black or still is reported.
#include "platform/log.h"
#include "window/form1.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr qint64 kRecoveryWindowMs = 10 * 60 * 1000;
// Both players share the engine's process: its end within this time is one incident.
constexpr qint64 kSameIncidentMs = 30 * 1000;
constexpr qint64 kBlackMs = 60 * 1000;
constexpr qint64 kStillMs = 10 * 60 * 1000;
const QSize kThumbnail(32, 18);

bool IsBlack(const QImage& picture) {
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (qGray(picture.pixel(x, y)) > 16) {
                return false;
            }
        }
    }
    return true;
}

// Two thumbnails differ where a cell is more than a little apart: a moving picture
// changes many levels somewhere, a still one not at all.
bool Differ(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return true;
    }
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > 2 || std::abs(qGreen(p) - qGreen(q)) > 2 ||
                std::abs(qBlue(p) - qBlue(q)) > 2) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

void Form1::FlashEngineRecovered(platform::ShockwaveFlash& player, const QString& reason,
                                 const QDateTime& now) {
    const bool inserted = &player == &ShockwaveFlash2;
    auto& times = status_.engineRecoveries;
    times.removeIf([&](const QDateTime& t) { return t.msecsTo(now) > kRecoveryWindowMs; });
    if (times.isEmpty() || times.last().msecsTo(now) > kSameIncidentMs) {
        times.append(now);
    }
    status_.lastRecovery =
        (inserted ? QStringLiteral("inserted movie: ") : QStringLiteral("main movie: ")) + reason;
    qCWarning(lcApp).noquote() << "flash engine started afresh for the" << status_.lastRecovery
                               << QStringLiteral("(%1 in ten minutes)").arg(times.size());
    if (inserted && flashtimer.Enabled()) {
        qCWarning(lcPresentation).noquote()
            << "inserted movie" << player.Movie() << "ended: its engine was started afresh";
        EndInsertedMovie(QStringLiteral("failed: ") + reason);
    }
    if (times.size() >= 2 && !status_.restartPending) {
        status_.restartPending = QStringLiteral(
            "flash engine started afresh twice within ten minutes; the program starts afresh "
            "at the next quiet moment");
        qCWarning(lcApp).noquote() << *status_.restartPending;
        EngineRestartTimer.SetEnabled(true);
    }
}

void Form1::EngineRestartTimer_Timer() {
    if (QuietMoment()) {
        EngineRestartTimer.SetEnabled(false);
        EndForRestart(QStringLiteral("Flash vastgelopen: herstart"),
                      QStringLiteral("flash engine:"));
    }
}

void Form1::PictureCheck(const QDateTime& now) {
    auto& picture = status_.picture;
    const QImage thumb =
        platform_.grabber ? platform_.grabber->Thumbnail(*this, kThumbnail) : QImage();
    if (thumb.isNull()) {
        picture = {};
        return;
    }
    const bool black = IsBlack(thumb);
    if (!black) {
        picture.blackSince = {};
    } else if (!picture.blackSince.isValid()) {
        picture.blackSince = now;
    }
    const auto& air = status_.onAir;
    const bool mainAlone =
        air.contains(QStringLiteral("main")) && !air.contains(QStringLiteral("insert")) &&
        !air.contains(QStringLiteral("film")) && !air.contains(QStringLiteral("photo"));
    if (!mainAlone || !picture.sameSince.isValid() || Differ(thumb, picture.last)) {
        picture.sameSince = mainAlone ? now : QDateTime();
    }
    picture.last = thumb;
}

QStringList EngineReasons(const StatusRecord& record, const QDateTime& now) {
    QStringList reasons;
    const auto recent =
        std::count_if(record.engineRecoveries.cbegin(), record.engineRecoveries.cend(),
                      [&](const QDateTime& t) { return t.msecsTo(now) <= kRecoveryWindowMs; });
    if (recent > 0) {
        reasons << QStringLiteral("flash engine started afresh %1 times in ten minutes (last: %2)")
                       .arg(recent)
                       .arg(record.lastRecovery);
    }
    if (record.restartPending) {
        reasons << *record.restartPending;
    }
    return reasons;
}

// The picture's part of the status reasons.
QStringList PictureReasons(const StatusRecord::Picture& picture, const QDateTime& now) {
    QStringList reasons;
    if (picture.blackSince.isValid() && picture.blackSince.msecsTo(now) >= kBlackMs) {
        reasons << QStringLiteral("picture: black for %1 s").arg(picture.blackSince.secsTo(now));
    }
    if (picture.sameSince.isValid() && picture.sameSince.msecsTo(now) >= kStillMs) {
        reasons << QStringLiteral("picture: unchanged for %1 min while the main movie plays")
                       .arg(picture.sameSince.secsTo(now) / 60);
    }
    return reasons;
}
