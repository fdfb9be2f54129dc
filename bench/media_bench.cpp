// The media player on libVLC: start to sound for a local file and for the radio (an
// ".asx" on a loopback server), memory after 50 films with radio restarts in between,
// and memory and CPU while the radio plays.
//
//   media_bench [--radio-seconds N] [--films N]
#include "bench_support.h"
#include "platform/event_loop.h"
#include "platform/vlc/vlc_media_player.h"
#include "support/media_files.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <cmath>
#include <cstdio>

namespace {

// Seconds from SetURL to the playing state.
double StartToPlaying(platform::VlcMediaPlayer& player, const QString& url) {
    bool playing = false;
    player.PlayStateChange = [&](int state) { playing = playing || state == platform::kPlaying; };
    const double start = bench::Now();
    player.SetURL(url);
    platform::WaitUntil([&] { return playing; }, nullptr, 20000);
    player.PlayStateChange = nullptr;  // `playing` ends here
    return bench::Now() - start;
}

void Wait(double seconds, const std::function<bool()>& until = nullptr) {
    platform::WaitUntil([&] { return until && until(); }, nullptr,
                        static_cast<int>(seconds * 1000));
}

}  // namespace

int main(int argc, char** argv) {
    bench::QuietOffscreen();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int radioSeconds = static_cast<int>(bench::IntArg(args, "--radio-seconds", 60));
    const int films = static_cast<int>(bench::IntArg(args, "--films", 50));
    const QString audio = qEnvironmentVariable("BENCH_AUDIO_OUTPUT", "adummy");

    QTemporaryDir temp;
    const QString www = temp.path() + "/www";
    QDir().mkpath(www);
    media_files::WriteWav(temp.path() + "/local.wav", 5000);
    media_files::WriteWav(www + "/stream.wav", (radioSeconds + 30) * 1000);
    media_files::WriteY4m(temp.path() + "/film.y4m", 320, 240, 25, 25, Qt::darkCyan);
    QProcess server;
    server.start("python3", {BENCH_CONTENT_SITE, www});
    server.waitForReadyRead(10000);
    const QString port = QString::fromUtf8(server.readLine().trimmed());
    QFile asx(www + "/radio.asx");
    asx.open(QIODevice::WriteOnly);
    asx.write(("<asx version=\"3.0\"><entry><ref href=\"http://127.0.0.1:" + port +
               "/stream.wav\"/></entry></asx>")
                  .toUtf8());
    asx.close();
    const QString radio = "http://127.0.0.1:" + port + "/radio.asx";

    platform::VlcMediaPlayer::Options options;
    options.audioOutput = audio;
    platform::VlcMediaPlayer player(options);
    std::printf("media player on libVLC, audio output %s, video %s\n", qPrintable(audio),
                player.ShowsVideo() ? "in a window" : "to the dummy output");
    const long idle = bench::CurrentRssKiB();
    std::printf("  start to playing, local file: %.0f ms\n",
                1000 * StartToPlaying(player, temp.path() + "/local.wav"));
    std::printf("  start to playing, radio (.asx on loopback): %.0f ms\n",
                1000 * StartToPlaying(player, radio));

    // Films with the radio in between, as the channel does.
    Wait(1);
    const long beforeFilms = bench::CurrentRssKiB();
    long afterTen = 0;
    bool stopped = false;
    player.PlayStateChange = [&](int state) { stopped = stopped || state == platform::kStopped; };
    for (int i = 0; i < films; ++i) {
        stopped = false;
        player.SetURL(temp.path() + "/film.y4m");
        Wait(10, [&] { return stopped; });
        player.SetURL("");
        player.SetURL(radio);
        Wait(0.3);
        if (i == 9) {
            afterTen = bench::CurrentRssKiB();
        }
    }
    Wait(1);
    const long afterFilms = bench::CurrentRssKiB();
    std::printf(
        "  %d films with radio restarts: resident %.1f MiB before, %.1f MiB after 10,"
        " %.1f MiB after all\n",
        films, beforeFilms / 1024.0, afterTen / 1024.0, afterFilms / 1024.0);

    // The radio alone.
    player.SetURL(radio);
    Wait(2);
    const double cpu = bench::CpuSeconds(RUSAGE_SELF), wall = bench::Now();
    long peak = 0;
    const long start = bench::CurrentRssKiB();
    while (bench::Now() - wall < radioSeconds) {
        Wait(1);
        peak = std::max(peak, bench::CurrentRssKiB());
    }
    std::printf(
        "  radio for %d s: resident %.1f MiB at start, %.1f MiB at most, %.1f MiB at end;"
        " cpu %.1f %% of a core (idle process %.1f MiB)\n",
        radioSeconds, start / 1024.0, peak / 1024.0, bench::CurrentRssKiB() / 1024.0,
        100 * (bench::CpuSeconds(RUSAGE_SELF) - cpu) / (bench::Now() - wall), idle / 1024.0);
    player.SetURL("");
    server.kill();
    server.waitForFinished();
    return 0;
}
