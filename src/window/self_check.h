#pragma once

#include "platform/flash_player.h"
#include "platform/picture_grabber.h"
#include "status/on_air_ledger.h"
#include "window/vb_timer.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

// The program watches itself: an engine that was started afresh too often leads to a
// fresh start of the whole program, and a picture that stays black or still is reported.
class SelfCheck {
  public:
    // What the self-check asks of the window.
    struct Window {
        QWidget* widget = nullptr;  // whose picture is looked at
        // Whether nothing an end would cut short is under way.
        std::function<bool()> quietMoment;
        // Ends the program to be started afresh.
        std::function<void()> endForRestart;
        // The inserted movie's engine was started afresh: an insert on air ends, failed.
        std::function<void(const QString& reason)> insertLost;
    };
    SelfCheck(platform::PictureGrabber* grabber, const OnAirLedger& ledger,
              platform::ShockwaveFlash& insert, Window window);

    // Ends the program at a quiet moment once the flash engine had to be started afresh
    // twice within ten minutes; enabled then.
    VbTimer EngineRestartTimer{1000, false};
    // Looks at the picture as it goes out.
    VbTimer PictureCheckTimer{5000, true};

    // A player's engine was found stuck or dead and started afresh: an inserted movie
    // ends, the main movie has started again; two incidents within ten minutes end the
    // program at the next quiet moment.
    void FlashEngineRecovered(platform::ShockwaveFlash& player, const QString& reason,
                              const QDateTime& now);
    void EngineRestartTimer_Timer();
    // Compares a thumbnail of the picture with the last one, as of `now`.
    void PictureCheck(const QDateTime& now);
    void Stop();

    // What the look found, as of `now`: the picture black for a minute, or still for ten
    // minutes while the main movie alone is shown (reported only: a still picture may be
    // meant); the engine's recoveries of the last ten minutes, and a restart waiting for a
    // quiet moment.
    QStringList Reasons(const QDateTime& now) const;

  private:
    platform::PictureGrabber* grabber_;
    const OnAirLedger& ledger_;
    platform::ShockwaveFlash& insert_;
    Window window_;

    QList<QDateTime> recoveries_;  // one per incident, of the last ten minutes
    QString lastRecovery_;
    std::optional<QString> restartPending_;  // why the program ends at a quiet moment

    QImage lastThumb_;
    QDateTime blackSince_;  // invalid while not black
    QDateTime sameSince_;   // unchanged while the main movie alone is shown; or invalid
};
