// The Flash engine: time from the start of the program to the first frame of a movie,
// resident memory of the whole process tree (the program and the engine's processes)
// with both players, and the CPU of that tree while a 12 fps movie plays at 1920 x 1080.
//
//   flash_bench [--seconds N]
#include "bench_support.h"
#include "platform/event_loop.h"
#include "platform/real_platform.h"
#include "platform/ruffle/ruffle_flash_player.h"
#include "platform/ruffle/swf.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <unistd.h>
#include <cstdio>

namespace {

const double kStart = bench::Now();

// The process and its descendants.
QList<int> Tree(int root) {
    QList<int> pids = {root};
    for (qsizetype i = 0; i < pids.size(); ++i) {
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
            bool ok = false;
            const int pid = entry.toInt(&ok);
            if (!ok) {
                continue;
            }
            QFile stat("/proc/" + entry + "/stat");
            if (stat.open(QIODevice::ReadOnly)) {
                const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
                if (fields.size() > 2 && fields[2].toInt() == pids[i] && !pids.contains(pid)) {
                    pids << pid;
                }
            }
        }
    }
    return pids;
}

double PssMiB(const QList<int>& pids) {
    double kib = 0;
    for (int pid : pids) {
        QFile rollup(QString("/proc/%1/smaps_rollup").arg(pid));
        if (rollup.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : rollup.readAll().split('\n')) {
                if (line.startsWith("Pss:")) {
                    kib += line.mid(4).trimmed().split(' ').first().toDouble();
                }
            }
        }
    }
    return kib / 1024;
}

double CpuSeconds(const QList<int>& pids) {
    double ticks = 0;
    for (int pid : pids) {
        QFile stat(QString("/proc/%1/stat").arg(pid));
        if (stat.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> f = stat.readAll().split(')').last().split(' ');
            if (f.size() > 13) {
                ticks += f[12].toDouble() + f[13].toDouble();
            }
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
    bench::QuietOffscreen();
    platform::PrepareWebEngine();
    QApplication app(argc, argv);
    const int seconds = static_cast<int>(bench::IntArg(app.arguments(), "--seconds", 10));

    QTemporaryDir temp;
    swf::Writer writer(8, QSize(800, 600), 12);
    writer.SetBackground(QColor(20, 40, 90));
    for (int i = 0; i < 24; ++i) {
        writer.AddRectangle(100 + i, QRect(30 * i, 250, 60, 100), QColor(230, 160, 20), 1 + i);
        writer.ShowFrame();
    }
    QFile movie(temp.path() + "/movie.swf");
    movie.open(QIODevice::WriteOnly);
    movie.write(writer.Finish());
    movie.close();

    QWidget window;
    window.resize(1920, 1080);
    platform::RuffleFlashPlayer::Options options;
    options.engineFolder = BENCH_ENGINE_DIR;
    options.programFolder = temp.path();
    options.hostPath = [&](const QString& path) -> std::optional<QString> {
        return temp.path() + "/" + QString(path).remove("c:\\");
    };
    platform::RuffleFlashPlayer main(options), second(options);
    for (platform::RuffleFlashPlayer* player : {&main, &second}) {
        player->Widget()->setParent(&window);
        player->Widget()->setGeometry(0, 0, 1920, 1080);
    }
    second.SetVisible(false);
    window.show();
    main.SetMovie("c:\\movie.swf");
    platform::WaitUntil([&] { return main.ShowingFrames(); }, nullptr, 60000);
    const double firstFrame = bench::Now() - kStart;
    second.SetMovie("c:\\movie.swf");
    second.SetVisible(true);  // as the "flash" command shows the second player
    platform::WaitUntil([&] { return second.ShowingFrames(); }, nullptr, 60000);
    platform::WaitUntil([] { return false; }, nullptr, 2000);

    const QList<int> tree = Tree(static_cast<int>(getpid()));
    const double pss = PssMiB(tree);
    const double cpu = CpuSeconds(tree), wall = bench::Now();
    platform::WaitUntil([] { return false; }, nullptr, seconds * 1000);
    const double busy =
        (CpuSeconds(Tree(static_cast<int>(getpid()))) - cpu) / (bench::Now() - wall);
    std::printf("Flash engine (Ruffle %s in Qt WebEngine), platform %s\n", "0.6.0",
                qPrintable(QGuiApplication::platformName()));
    std::printf("  start to first movie frame: %.2f s\n", firstFrame);
    std::printf("  process tree (%lld processes) with both players: %.0f MiB PSS\n",
                static_cast<long long>(tree.size()), pss);
    std::printf("  12 fps movie at 1920 x 1080 for %d s: %.0f %% of a core\n", seconds, 100 * busy);
    return 0;
}
