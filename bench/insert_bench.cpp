// Inserted movies all day: the main movie's "flash" command again and again with the
// real Flash engine, or "flashmovie" replacing the main movie. Prints, every so many
// loads, the PSS of the program's own process and of the engine's processes, and the
// anonymous memory of them all (which other programs do not change), as CSV, and
// at the end how long the loads played.
//
//   insert_bench [--loads N] [--every K] [--frames F] [--fps R] [--main] [--movie FILE]
//                [--recycle LOADS]
//
// --main replaces the main movie instead of inserting; --movie plays FILE instead of a
// generated movie of F frames at R per second (default 12 frames at 12 per second).
#include "bench_support.h"
#include "platform/event_loop.h"
#include "platform/real_platform.h"
#include "platform/ruffle/ruffle_flash_player.h"
#include "support/ruffle_peer.h"
#include "window/form1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <malloc.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
    bench::PrepareEngine();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int loads = static_cast<int>(bench::IntArg(args, "--loads", 1000));
    const int every = static_cast<int>(bench::IntArg(args, "--every", 100));
    const int frames = static_cast<int>(bench::IntArg(args, "--frames", 12));
    const int fps = static_cast<int>(bench::IntArg(args, "--fps", 12));
    const bool main = args.contains("--main");
    const qsizetype movieAt = args.indexOf("--movie");

    QTemporaryDir temp;
    const QString drive = temp.path() + "/drive_c";
    QDir().mkpath(drive + "/fileftp");
    QByteArray movie = bench::BarMovie(frames, fps, true);
    if (movieAt >= 0 && movieAt + 1 < args.size()) {
        QFile file(args[movieAt + 1]);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "insert_bench: cannot read %s\n", qPrintable(args[movieAt + 1]));
            return 2;
        }
        movie = file.readAll();
    }
    QFile out(drive + "/fileftp/item.swf");
    out.open(QIODevice::WriteOnly);
    out.write(movie);
    out.close();

    platform::Platform p = bench::RealPlatform(drive, platform::Endpoints::Defaults(), 0);
    platform::FileSystem* files = p.files.get();
    platform::RuffleFlashPlayer::Options flash;
    flash.engineFolder = BENCH_ENGINE_DIR;
    flash.programFolder = BENCH_ENGINE_DIR "/..";
    flash.hostPath = [files](const QString& path) { return files->HostPath(path); };
    flash.recycleAfterLoads = static_cast<int>(
        bench::IntArg(args, "--recycle", platform::RuffleFlashPlayer::Options{}.recycleAfterLoads));
    p.flash1 = std::make_unique<platform::RuffleFlashPlayer>(flash);
    p.flash2 = std::make_unique<platform::RuffleFlashPlayer>(flash);
    Form1 form(std::move(p));
    form.resize(1280, 720);
    form.show();
    auto* player = dynamic_cast<platform::RuffleFlashPlayer*>(main ? &form.ShockwaveFlash1
                                                                   : &form.ShockwaveFlash2);
    platform::WaitUntil([&] { return platform::RuffleFlashPlayerPeer(*player).PageReady(); },
                        nullptr, 60000);

    // A replaced main movie has ended once it shows frames and reaches its last one.
    const auto ended = [&] {
        return main ? platform::RuffleFlashPlayerPeer(*player).Failed() ||
                          (platform::RuffleFlashPlayerPeer(*player).ShowingFrames() &&
                           player->CurrentFrame() >= player->TotalFrames() - 1)
                    : !form.flashtimer.Enabled();
    };
    std::printf("# %s of a %d-frame movie at %d fps, Ruffle in Qt WebEngine, platform %s\n",
                main ? "flashmovie replacements" : "inserts", frames, fps,
                qPrintable(QGuiApplication::platformName()));
    std::printf(
        "loads,seconds,program_pss_mib,program_heap_in_use_mib,engine_pss_mib,engine_processes,"
        "total_anon_mib\n");
    const double start = bench::Now();
    const auto report = [&](int done) {
        const QList<int> tree = bench::ProcessTree(static_cast<int>(getpid()));
        const double own = bench::PssMiB({static_cast<int>(getpid())});
        const struct mallinfo2 heap = mallinfo2();
        std::printf("%d,%.0f,%.1f,%.1f,%.1f,%lld,%.1f\n", done, bench::Now() - start, own,
                    static_cast<double>(heap.uordblks) / (1 << 20), bench::PssMiB(tree) - own,
                    static_cast<long long>(tree.size() - 1), bench::AnonMiB(tree));
        std::fflush(stdout);
    };
    QList<double> lengths;
    int failed = 0;
    report(0);
    for (int i = 1; i <= loads; ++i) {
        const double begun = bench::Now();
        form.ShockwaveFlash1_FSCommand(main ? "flashmovie" : "flash",
                                       main ? "item.swf" : "movie:item.swf");
        if (!platform::WaitUntil(ended, nullptr, 60000)) {
            std::fprintf(stderr, "load %d did not end within 60 s\n", i);
        }
        failed += platform::RuffleFlashPlayerPeer(*player).Failed() ? 1 : 0;
        lengths << bench::Now() - begun;
        if (i % every == 0) {
            report(i);
        }
    }
    std::sort(lengths.begin(), lengths.end());
    const double expected = frames / static_cast<double>(fps);
    const auto shorter =
        std::count_if(lengths.begin(), lengths.end(), [&](double s) { return s < 0.9 * expected; });
    std::printf(
        "# played: shortest %.2f s, median %.2f s, longest %.2f s; %lld of %d shorter "
        "than 90 %% of %.2f s; %d failed\n",
        lengths.first(), lengths[lengths.size() / 2], lengths.last(),
        static_cast<long long>(shorter), loads, expected, failed);
    return 0;
}
