// The Flash engine: time from the start of the program to the first frame of a movie,
// resident memory of the whole process tree (the program and the engine's processes)
// with both players, and the CPU of that tree while a 12 fps movie plays at 1920 x 1080.
//
//   flash_bench [--seconds N] [--renderer auto|webgl|canvas]
#include "bench_support.h"
#include "platform/event_loop.h"
#include "platform/qt/drive_file_system.h"
#include "platform/real_platform.h"
#include "platform/ruffle/ruffle_flash_player.h"
#include "support/ruffle_peer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <unistd.h>
#include <cstdio>

namespace {

const double kStart = bench::Now();

}  // namespace

int main(int argc, char** argv) {
    bench::PrepareEngine();
    QApplication app(argc, argv);
    const int seconds = static_cast<int>(bench::IntArg(app.arguments(), "--seconds", 10));

    QTemporaryDir temp;
    QDir().mkpath(temp.path() + "/fileftp");
    QFile movie(temp.path() + "/fileftp/movie.swf");
    movie.open(QIODevice::WriteOnly);
    movie.write(bench::BarMovie(24, 12));
    movie.close();

    QWidget window;
    window.resize(1920, 1080);
    platform::RuffleFlashPlayer::Options options;
    options.engineFolder = BENCH_ENGINE_DIR;
    options.programFolder = temp.path();
    platform::DriveFileSystem files(temp.path());
    options.hostPath = [&](const QString& path) { return files.HostPath(path); };
    if (const qsizetype at = app.arguments().indexOf("--renderer");
        at >= 0 && at + 1 < app.arguments().size()) {
        options.renderer = app.arguments()[at + 1];
    }
    platform::RuffleFlashPlayer main(options), second(options);
    for (platform::RuffleFlashPlayer* player : {&main, &second}) {
        player->Widget()->setParent(&window);
        player->Widget()->setGeometry(0, 0, 1920, 1080);
    }
    second.SetVisible(false);
    window.show();
    main.SetMovie("c:\\fileftp\\movie.swf");
    platform::WaitUntil([&] { return platform::RuffleFlashPlayerPeer(main).ShowingFrames(); },
                        nullptr, 60000);
    const double firstFrame = bench::Now() - kStart;
    // The design-time movie of the hidden player has had its time, as on a display that
    // runs; then an insert, as the "flash" command starts it.
    platform::WaitUntil([] { return false; }, nullptr, 3000);
    const double insertStart = bench::Now();
    second.SetMovie("c:\\fileftp\\movie.swf");
    second.SetVisible(true);  // as the "flash" command shows the second player
    platform::WaitUntil([&] { return platform::RuffleFlashPlayerPeer(second).ShowingFrames(); },
                        nullptr, 60000);
    const double insertFirstFrame = bench::Now() - insertStart;
    platform::WaitUntil([] { return false; }, nullptr, 2000);

    const QList<int> tree = bench::ProcessTree(static_cast<int>(getpid()));
    const double pss = bench::PssMiB(tree);
    const double cpu = bench::TreeCpuSeconds(tree), wall = bench::Now();
    platform::WaitUntil([] { return false; }, nullptr, seconds * 1000);
    const double busy =
        (bench::TreeCpuSeconds(bench::ProcessTree(static_cast<int>(getpid()))) - cpu) /
        (bench::Now() - wall);
    std::printf("Flash engine (Ruffle %s in Qt WebEngine), platform %s\n", "0.6.0",
                qPrintable(QGuiApplication::platformName()));
    std::printf("  drawn with %s\n", qPrintable(main.Figures().renderer));
    std::printf("  start to first movie frame: %.2f s\n", firstFrame);
    std::printf("  inserted movie, from the command to its first frame: %.2f s\n",
                insertFirstFrame);
    std::printf("  process tree (%lld processes) with both players: %.0f MiB PSS\n",
                static_cast<long long>(tree.size()), pss);
    for (const int pid : tree) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        cmdline.open(QIODevice::ReadOnly);
        const QList<QByteArray> argv = cmdline.readAll().split('\0');
        QByteArray kind = pid == static_cast<int>(getpid()) ? "program" : "engine";
        for (const QByteArray& arg : argv) {
            if (arg.startsWith("--type=") || arg.startsWith("--utility-sub-type=")) {
                kind += ' ' + arg.mid(arg.indexOf('=') + 1);
            }
        }
        std::printf("    %-40s %6.1f MiB\n", kind.constData(), bench::PssMiB({pid}));
    }
    std::printf("  12 fps movie at 1920 x 1080 for %d s: %.0f %% of a core\n", seconds, 100 * busy);
    return 0;
}
