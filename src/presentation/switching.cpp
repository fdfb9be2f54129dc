// The endings of inserted movies and photos.
#include "platform/log.h"
#include "platform/movie_protocol.h"
#include "window/form1.h"

void Form1::flashtimer_Timer() {
    // The frame progress is rewritten every 10 ms: it goes to the status line only.
    lblInfo->setText(QString::number(ShockwaveFlash2.CurrentFrame()) + '-' +
                     QString::number(ShockwaveFlash2.TotalFrames()));
    const int total = ShockwaveFlash2.TotalFrames();
    const int frame = ShockwaveFlash2.CurrentFrame();
    if (frame >= total - 1) {
        EndInsertedMovie();
        return;
    }
    // A movie that stops itself before its last frame would hold the channel until an
    // operator skips it: one that stands still long enough ends as if it had come there.
    if (frame != presentation_.insertFrame) {
        presentation_.insertFrame = frame;
        presentation_.insertFrameSince.start();
    } else if (presentation_.insertFrameSince.elapsed() >= platform_.insertStallMs) {
        qCWarning(lcPresentation).noquote()
            << "inserted movie" << ShockwaveFlash2.Movie() << "stood still at frame" << frame
            << "of" << total << "for" << platform_.insertStallMs / 1000.0 << "s; ended";
        EndInsertedMovie();
    }
}

void Form1::EndInsertedMovie(on_air::Outcome outcome, const QString& reason) {
    onAir.End(on_air::Kind::kInsert, outcome, reason);
    flashtimer.SetEnabled(false);
    ShockwaveFlash2.Stop();
    ShockwaveFlash2.SetVisible(false);
    ShockwaveFlash1.SetVariable(movie::kFilm, movie::kKlaar);
    StartRadio();
}

void Form1::Timer1_Timer() {
    presentation_.photoBeingRead = 0;  // a photo whose time is up before it is read stays away
    Timer1.SetEnabled(false);
    onAir.End(on_air::Kind::kPhoto, on_air::Outcome::kEnded);
    Image1.SetVisible(false);
    ShockwaveFlash1.SetVisible(true);
    ShockwaveFlash1.SetVariable(movie::kFoto, movie::kKlaar);
}

void Form1::FotoOverslaan_Click() {
    onAir.End(on_air::Kind::kPhoto, on_air::Outcome::kSkipped);
    onAir.End(on_air::Kind::kInsert, on_air::Outcome::kSkipped);
    Timer1_Timer();
    EndInsertedMovie();
}
