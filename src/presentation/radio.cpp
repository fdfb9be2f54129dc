// The background radio in the media player.
#include "platform/log.h"
#include "platform/movie_protocol.h"
#include "window/form1.h"

namespace {

// The radio is meant to play, and the player has its address (not a film or sound file).
bool RadioIsTheMedia(Form1& form) {
    return form.RadioPlaying && form.MediaPlayer1.URL() == form.Platform().endpoints.radioUrl;
}

}  // namespace

void Form1::StartRadio() {
    if (RadioPlaying) {
        return;
    }
    RadioPlaying = true;
    MediaPlayer1.SetURL(platform_.endpoints.radioUrl);
    MediaPlayer1.Play();
    if (presentation_.radioDrops > 0) {
        // Tried again in an outage: counted, and on air again only once it plays.
        ++presentation_.radioRetries;
        status.RadioRetried();
        return;
    }
    qCInfo(lcPresentation).noquote() << "radio on:" << platform_.endpoints.radioUrl;
    onAir.Begin(on_air::Kind::kRadio, {platform_.endpoints.radioUrl, QString()});
}

void Form1::StopRadio() {
    RadioaanTimer.SetEnabled(false);
    presentation_.radioDrops = 0;
    presentation_.radioRetries = 0;
    if (RadioPlaying) {
        RadioPlaying = false;
        qCInfo(lcPresentation) << "radio off";
        onAir.End(on_air::Kind::kRadio, on_air::Outcome::kEnded);
        MediaPlayer1.SetURL(QString());
    }
}

void Form1::MediaPlayer1_PlayStateChange(int NewState) {
    const bool radio = RadioIsTheMedia(*this);
    if (NewState == platform::kPlaying && radio && presentation_.radioDrops > 0) {
        qCInfo(lcPresentation).noquote()
            << "radio plays again after" << presentation_.radioRetries << "retries";
        presentation_.radioDrops = 0;
        presentation_.radioRetries = 0;
        presentation_.radioReason.clear();
        onAir.Begin(on_air::Kind::kRadio, {platform_.endpoints.radioUrl, QString()});
    }
    if (NewState != platform::kStopped) {
        return;
    }
    if (radio) {
        // The stream itself stopped (unreachable, or dropped): let the restart bring it
        // back. A stream that stays away is reported once a minute, not every two seconds.
        ++presentation_.radioDrops;
        if (presentation_.radioReason.isEmpty()) {
            presentation_.radioReason = QStringLiteral("the stream stopped");
        }
        if (presentation_.radioDrops == 1 || presentation_.radioDrops % 30 == 0) {
            qCWarning(lcPresentation).noquote()
                << "radio stream stopped" << presentation_.radioDrops
                << "times in a row (" + presentation_.radioReason + "); trying again in 2 s";
        }
        RadioPlaying = false;
        onAir.End(on_air::Kind::kRadio, on_air::Outcome::kFailed, presentation_.radioReason);
    }
    onAir.End(on_air::Kind::kFilm, on_air::Outcome::kEnded);
    onAir.End(on_air::Kind::kSound, on_air::Outcome::kEnded);
    ShockwaveFlash1.SetVariable(movie::kFilm, movie::kKlaar);
    MediaPlayer1.SetVisible(false);
    MediaPlayer1.SetURL(QString());
    RadioaanTimer.SetEnabled(true);
}

void Form1::MediaPlayer1_MediaError(const QString& reason) {
    if (RadioIsTheMedia(*this)) {
        presentation_.radioReason = reason;
    }
}

void Form1::MediaPlayer1_NowPlaying(const QString& address) {
    if (RadioIsTheMedia(*this)) {
        if (address != presentation_.radioSource) {
            presentation_.radioSource = address;  // a station's other server: say which one plays
            SetStatus(QStringLiteral("Radio: ") + address);
        }
    }
}

void Form1::RadioaanTimer_Timer() {
    RadioaanTimer.SetEnabled(false);
    StartRadio();
}
