// One update cycle fetching 200 listed files (256 MiB in all) from a loopback server,
// against curl fetching the same addresses from the same server; then the peak memory
// of one cycle that fetches a single 1 GiB file. The cycle puts every file on the disk
// before it replaces the old one; curl does not, so it is also timed followed by sync(1)
// of what it wrote: the same bytes on the same disk.
//
//   update_bench [--files N] [--total-mib M] [--big-mib B] [--running [--perf]]
//
// --running measures the cycle on the running program instead (see RunOnTheDisplay);
// --perf adds where the program's time went during it, sampled with perf.
#include "bench_support.h"
#include "content_site.h"
#include "platform/event_loop.h"
#include "window/form1.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include "support/station.h"

#include <QDir>
#include <QFileInfo>

#include <functional>

#include <unistd.h>

namespace {

bench::Usage RunCycle(bench::Site& site, qint64* idleRss = nullptr) {
    QTemporaryDir drive;
    const std::unique_ptr<Form1> form = bench::CycleWindow(site, drive.path() + "/drive_c");
    if (idleRss) {
        *idleRss = bench::CurrentRssKiB();
    }
    const double wall = bench::Now(), cpu = bench::CpuSeconds(RUSAGE_SELF);
    form->Form_Activate();
    // Until the disk has every file and the move out of the buffer.
    bool landed = false;
    form->Platform().files->AfterCommits([&landed] { landed = true; });
    platform::WaitUntil([&] { return landed; }, nullptr, -1);
    return {bench::Now() - wall, bench::CpuSeconds(RUSAGE_SELF) - cpu};
}

void PrintAgainst(const char* name, const bench::Usage& baseline, const bench::Usage& cycle,
                  double throughputTarget, double cpuTarget) {
    std::printf(
        "  against %-12s throughput %.2f (target >= %.1f), cpu per MiB %.2f (target <= "
        "%.1f)\n",
        name, baseline.wall / cycle.wall, throughputTarget, cycle.cpu / baseline.cpu, cpuTarget);
}

// The cycle where a station has it: the program running on an X server of its own with
// both engines up and its main movie playing (make_demo_movie --update, which asks for an
// update every round); once its start-up cycle is over the site lists `sizes` as new
// files. Timed from the first of them appearing on the drive until all stand complete
// under their names; the CPU is the program's whole tree less what it used for as long
// just before, drawing. Also curl + sync of the same files, in the same run.
void RunOnTheDisplay(const QList<qint64>& sizes, bool perf) {
    bench::Site site;
    bench::MakeSite(site, {});
    QProcess maker;
    const QString movie = site.Www() + "/test/dravonelle.swf";
    maker.start(BENCH_MOVIE_MAKER, {"--update", movie});
    if (!maker.waitForFinished(30000) || maker.exitCode() != 0 || !site.Start()) {
        std::fprintf(stderr, "no site or no movie for the running display\n");
        return;
    }
    XServer x(QSize(1920, 1080));
    Station display;
    QFile made(movie);
    made.open(QIODevice::ReadOnly);
    display.WriteDriveFile("fileftp/dravonelle.swf", made.readAll());
    const QString base = "http://127.0.0.1:" + QString::number(site.port);
    display.settings["main/lokatie"] = base + "/test";
    display.settings["endpoints/site_host"] = "127.0.0.1:" + QString::number(site.port);
    display.settings["endpoints/weather_url"] = base + "/freedata/meerdaagsebanner.jpg";
    display.settings["endpoints/radio_url"] = base + "/radio.asx";
    display.settings["system/status_port"] = "0";
    display.Start({{"DISPLAY", x.Display()}, {"QT_QPA_PLATFORM", "xcb"}});
    // Looked for every 5 ms: the program's own wake-up (a quarter of a second) would blur
    // a cycle that lasts well under a second.
    const auto waitFor = [](const std::function<bool()>& done, double seconds) {
        return bench::WaitFor(done, seconds, 5);
    };
    if (!waitFor([&] { return display.Log().contains("update cycle ends"); }, 120)) {
        std::fprintf(stderr, "the display's start-up cycle did not end:\n%s\n",
                     qPrintable(display.Log().right(2000)));
        return;
    }
    waitFor([] { return false; }, 10);  // the main movie plays
    const int pid = static_cast<int>(display.Pid());
    const double idleStart = bench::Now();
    const double idleCpu = bench::TreeCpuSeconds(bench::ProcessTree(pid));
    waitFor([] { return false; }, 10);
    const double drawingRate =
        (bench::TreeCpuSeconds(bench::ProcessTree(pid)) - idleCpu) / (bench::Now() - idleStart);

    QStringList fields, names, paths;
    QList<qint64> written;  // the pictures' sizes as made
    qint64 total = 0;
    for (int i = 0; i < sizes.size(); ++i) {
        names << QString("new%1.jpg").arg(i, 3, 10, QChar('0'));
        written << bench::WriteFile(site.Www() + "/test/fotos/" + names.last(), sizes[i]);
        fields << names.last() << "1" << QString::number(written.last());
        paths << "/test/fotos/" + names.last();
        total += written.last();
    }
    ::sync();
    const bench::Usage curlSync = bench::RunCurl(site.port, paths, true);
    ::sync();
    QFile listing(site.Www() + "/testdir.php");
    listing.open(QIODevice::WriteOnly);
    listing.write(fields.join(';').toUtf8());
    listing.close();

    // Where the drive has them: fetched into the buffer folder, moved on by a later cycle.
    const QDir content(display.DriveFolder() + "/fileftp");
    const auto found = [&] {
        QMap<QString, qint64> sizesFound;
        QDirIterator it(content.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            if (it.fileName().contains("new")) {
                sizesFound[it.fileName()] = it.fileInfo().size();
            }
        }
        return sizesFound;
    };
    const auto anyNew = [&] { return !found().isEmpty(); };
    const auto allThere = [&] {
        const QMap<QString, qint64> got = found();
        for (int i = 0; i < names.size(); ++i) {
            if (got.value(names[i], -1) != written[i]) {
                return false;
            }
        }
        return true;
    };
    // The movie asks for the cycle once a round.
    double start = 0, cpu = 0;
    if (!waitFor([&] { return anyNew(); }, 120)) {
        std::fprintf(stderr, "the running display started no cycle:\n%s\n%s\n",
                     qPrintable(display.Log().right(3000)),
                     qPrintable(content.entryList(QDir::AllEntries | QDir::Hidden).join(' ')));
        QFile got(content.filePath("file.txt")), served(site.Www() + "/testdir.php");
        got.open(QIODevice::ReadOnly);
        served.open(QIODevice::ReadOnly);
        std::fprintf(stderr, "got: %s\nserved: %s\n", got.readAll().left(200).constData(),
                     served.readAll().left(200).constData());
        return;
    }
    start = bench::Now();
    cpu = bench::TreeCpuSeconds(bench::ProcessTree(pid));
    const QMap<QString, double> threadsBefore = bench::ThreadCpuSeconds(pid);
    QTemporaryDir perfFolder;
    bench::PerfRecorder recorder(perfFolder.path());
    if (perf) {
        recorder.Start(bench::ProcessTree(pid));
    }
    if (!waitFor([&] { return allThere(); }, 600)) {
        std::fprintf(stderr, "the running display did not fetch every file\n");
        return;
    }
    const double wall = bench::Now() - start;
    const bench::Usage cycle{
        wall, bench::TreeCpuSeconds(bench::ProcessTree(pid)) - cpu - drawingRate * wall};
    QStringList threads;  // where the program's own process spent it
    for (const auto& [name, seconds] : bench::ThreadCpuSeconds(pid).asKeyValueRange()) {
        if (seconds - threadsBefore.value(name) >= 0.01) {
            threads << QString("%1 %2 s").arg(name).arg(seconds - threadsBefore.value(name), 0, 'f',
                                                        2);
        }
    }
    const QString profile = recorder.Report();
    display.Stop();
    const double mib = total / 1048576.0;
    std::printf(
        "on a running display (both engines up, main movie playing): %lld files, %.0f "
        "MiB\n",
        static_cast<long long>(sizes.size()), mib);
    std::printf("  %-14s wall %6.2f s  cpu %6.2f s  %7.1f MiB/s  %.4f cpu-s/MiB\n", "curl + sync",
                curlSync.wall, curlSync.cpu, mib / curlSync.wall, curlSync.cpu / mib);
    std::printf(
        "  %-14s wall %6.2f s  cpu %6.2f s  %7.1f MiB/s  %.4f cpu-s/MiB  (drawing "
        "%.0f %% of a core left out)\n",
        "dravonelle", cycle.wall, cycle.cpu, mib / cycle.wall, cycle.cpu / mib, 100 * drawingRate);
    PrintAgainst("curl + sync", curlSync, cycle, 1.2, 1.1);
    std::printf("  the program's threads during the cycle (drawing included): %s\n",
                qPrintable(threads.join(", ")));
    if (!profile.isEmpty()) {
        std::printf("where the program's time went during the cycle:\n%s\n", qPrintable(profile));
    }
}

}  // namespace

int main(int argc, char** argv) {
    bench::QuietOffscreen();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int files = static_cast<int>(bench::IntArg(args, "--files", 200));
    const qint64 total = bench::IntArg(args, "--total-mib", 256) << 20;
    const qint64 big = bench::IntArg(args, "--big-mib", 1024) << 20;

    if (args.contains("--one-big")) {  // child mode: one cycle with one big file
        bench::Site site;
        QList<qint64> sizes = {big};
        bench::MakeSite(site, sizes);
        if (!site.Start()) {
            return 1;
        }
        qint64 idle = 0;
        RunCycle(site, &idle);
        std::printf("%ld %lld\n", bench::PeakRssKiB(), static_cast<long long>(idle));
        return 0;
    }

    const QList<qint64> sizes = bench::MixedSizes(files, total);
    if (args.contains("--running")) {
        RunOnTheDisplay(sizes, args.contains("--perf"));
        return 0;
    }
    bench::Site site;
    const QStringList paths = bench::MakeSite(site, sizes);
    if (!site.Start()) {
        std::fprintf(stderr, "content site did not start\n");
        return 1;
    }
    // Each run starts with nothing of the one before still to be written.
    ::sync();
    const bench::Usage curl = bench::RunCurl(site.port, paths, false);
    ::sync();
    const bench::Usage curlSync = bench::RunCurl(site.port, paths, true);
    ::sync();
    const bench::Usage cycle = RunCycle(site);
    qint64 made = 0;  // the pictures come out near the sizes asked for, not at them
    for (const QString& path : paths) {
        made += QFileInfo(site.Www() + path).size();
    }
    const double mib = made / 1048576.0;
    std::printf("update cycle: %d files, %.0f MiB from a loopback server\n", files, mib);
    const auto line = [mib](const char* name, const bench::Usage& u) {
        std::printf("  %-14s wall %6.2f s  cpu %6.2f s  %7.1f MiB/s  %.4f cpu-s/MiB\n", name,
                    u.wall, u.cpu, mib / u.wall, u.cpu / mib);
    };
    line("curl", curl);
    line("curl + sync", curlSync);
    line("dravonelle", cycle);  // every file on the disk before it replaces the old one
    PrintAgainst("curl", curl, cycle, 0.7, 1.5);             // the network's limit: a goal
    PrintAgainst("curl + sync", curlSync, cycle, 1.0, 1.5);  // the same bytes on the same disk

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(app.applicationFilePath(), {"--one-big", "--big-mib", QString::number(big >> 20)});
    child.waitForFinished(-1);
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
    if (figures.size() == 2) {
        const double peak = figures[0].toLong() / 1024.0, idle = figures[1].toLong() / 1024.0;
        std::printf(
            "one %lld MiB file: peak resident %.1f MiB, idle %.1f MiB, above idle %.1f MiB"
            "  (target < 64)\n",
            static_cast<long long>(big >> 20), peak, idle, peak - idle);
    }
    return 0;
}
