#include "window/self_check.h"

#include "platform/log.h"

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

SelfCheck::SelfCheck(platform::PictureGrabber* grabber, const OnAirLedger& ledger,
                     platform::ShockwaveFlash& insert, Window window)
    : grabber_(grabber), ledger_(ledger), insert_(insert), window_(std::move(window)) {
    EngineRestartTimer.Tick = [this] { EngineRestartTimer_Timer(); };
    PictureCheckTimer.Tick = [this] { PictureCheck(QDateTime::currentDateTime()); };
}

void SelfCheck::FlashEngineRecovered(platform::ShockwaveFlash& player, const QString& reason,
                                     const QDateTime& now) {
    const bool inserted = &player == &insert_;
    recoveries_.removeIf([&](const QDateTime& t) { return t.msecsTo(now) > kRecoveryWindowMs; });
    if (recoveries_.isEmpty() || recoveries_.last().msecsTo(now) > kSameIncidentMs) {
        recoveries_.append(now);
    }
    lastRecovery_ =
        (inserted ? QStringLiteral("inserted movie: ") : QStringLiteral("main movie: ")) + reason;
    qCWarning(lcApp).noquote() << "flash engine started afresh for the" << lastRecovery_
                               << QStringLiteral("(%1 in ten minutes)").arg(recoveries_.size());
    if (inserted && window_.insertLost) {
        window_.insertLost(reason);
    }
    if (recoveries_.size() >= 2 && !restartPending_) {
        restartPending_ = QStringLiteral(
            "flash engine started afresh twice within ten minutes; the program starts afresh "
            "at the next quiet moment");
        qCWarning(lcApp).noquote() << *restartPending_;
        EngineRestartTimer.SetEnabled(true);
    }
}

void SelfCheck::EngineRestartTimer_Timer() {
    if (window_.quietMoment()) {
        EngineRestartTimer.SetEnabled(false);
        window_.endForRestart();
    }
}

void SelfCheck::PictureCheck(const QDateTime& now) {
    const QImage thumb =
        grabber_ && window_.widget ? grabber_->Thumbnail(*window_.widget, kThumbnail) : QImage();
    if (thumb.isNull()) {
        lastThumb_ = {};
        blackSince_ = sameSince_ = {};
        return;
    }
    if (!IsBlack(thumb)) {
        blackSince_ = {};
    } else if (!blackSince_.isValid()) {
        blackSince_ = now;
    }
    const bool mainAlone = ledger_.MainAlone();
    if (!mainAlone || !sameSince_.isValid() || Differ(thumb, lastThumb_)) {
        sameSince_ = mainAlone ? now : QDateTime();
    }
    lastThumb_ = thumb;
}

void SelfCheck::Stop() {
    EngineRestartTimer.SetEnabled(false);
    PictureCheckTimer.SetEnabled(false);
}

QStringList SelfCheck::Reasons(const QDateTime& now) const {
    QStringList reasons;
    if (blackSince_.isValid() && blackSince_.msecsTo(now) >= kBlackMs) {
        reasons << QStringLiteral("picture: black for %1 s").arg(blackSince_.secsTo(now));
    }
    if (sameSince_.isValid() && sameSince_.msecsTo(now) >= kStillMs) {
        reasons << QStringLiteral("picture: unchanged for %1 min while the main movie plays")
                       .arg(sameSince_.secsTo(now) / 60);
    }
    const auto recent =
        std::count_if(recoveries_.cbegin(), recoveries_.cend(),
                      [&](const QDateTime& t) { return t.msecsTo(now) <= kRecoveryWindowMs; });
    if (recent > 0) {
        reasons << QStringLiteral("flash engine started afresh %1 times in ten minutes (last: %2)")
                       .arg(recent)
                       .arg(lastRecovery_);
    }
    if (restartPending_) {
        reasons << *restartPending_;
    }
    return reasons;
}
