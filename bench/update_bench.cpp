// One update cycle fetching 200 listed files (256 MiB in all) from a loopback server,
// against curl fetching the same addresses from the same server; then the peak memory
// of one cycle that fetches a single 1 GiB file. The cycle puts every file on the disk
// before it replaces the old one; curl does not, so it is also timed followed by sync(1)
// of what it wrote: the same bytes on the same disk.
//
//   update_bench [--files N] [--total-mib M] [--big-mib B] [--running [--rounds R] [--perf]]
//   update_bench --cut [--film-mib F]
//
// --running measures the cycle on the running program instead (see RunOnTheDisplay), in R
// rounds (5) of its own files each;
// --perf adds where the program's time went during it, sampled with perf. --cut fetches a
// film of F MiB (50) whose transfer breaks at 90 %, then the rest of it (RunCutFilm).
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
void RunOnTheDisplay(const QList<qint64>& sizes, int roundCount, bool perf) {
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
    const QMap<QString, double> idleThreads = bench::ThreadCpuSeconds(pid);
    waitFor([] { return false; }, 10);
    const double idleWall = bench::Now() - idleStart;
    const double drawingRate =
        (bench::TreeCpuSeconds(bench::ProcessTree(pid)) - idleCpu) / idleWall;
    QMap<QString, double> threadDrawingRate;  // the program's own threads, idle
    for (const auto& [name, seconds] : bench::ThreadCpuSeconds(pid).asKeyValueRange()) {
        threadDrawingRate[name] = (seconds - idleThreads.value(name)) / idleWall;
    }

    // One round: the site lists `sizes` more files under names of their own; curl + sync
    // fetches them first, then the program's next cycle.
    struct Round {
        bench::Usage curlSync, cycle;
        QMap<QString, double> threads;  // the program's own process, by thread
        QString profile;
    };
    QStringList fields;  // the listing: every round's files, the earlier ones unchanged
    qint64 total = 0;    // one round's bytes
    const QDir content(display.DriveFolder() + "/fileftp");
    const auto round = [&](int r) -> std::optional<Round> {
        QStringList names, paths;
        QList<qint64> written;  // the pictures' sizes as made
        total = 0;
        for (int i = 0; i < sizes.size(); ++i) {
            names << QString("r%1new%2.jpg").arg(r).arg(i, 3, 10, QChar('0'));
            written << bench::WriteFile(site.Www() + "/test/fotos/" + names.last(), sizes[i]);
            fields << names.last() << "1" << QString::number(written.last());
            paths << "/test/fotos/" + names.last();
            total += written.last();
        }
        Round result;
        // curl + sync at its best of three: on this disk it now and then costs twice its
        // usual CPU, which would flatter the program.
        for (int i = 0; i < 3; ++i) {
            ::sync();
            const bench::Usage once = bench::RunCurl(site.port, paths, true);
            if (i == 0 || once.cpu < result.curlSync.cpu) {
                result.curlSync = once;
            }
        }
        ::sync();
        QFile listing(site.Www() + "/testdir.php");
        listing.open(QIODevice::WriteOnly);
        listing.write(fields.join(';').toUtf8());
        listing.close();

        // Where the drive has them: fetched into the buffer folder, moved on by a later
        // cycle.
        const QString prefix = QString("r%1new").arg(r);
        const auto found = [&] {
            QMap<QString, qint64> sizesFound;
            QDirIterator it(content.path(), QDir::Files | QDir::Hidden,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                it.next();
                if (it.fileName().contains(prefix)) {
                    sizesFound[it.fileName()] = it.fileInfo().size();
                }
            }
            return sizesFound;
        };
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
        if (!waitFor([&] { return !found().isEmpty(); }, 120)) {
            std::fprintf(stderr, "the running display started no cycle:\n%s\n",
                         qPrintable(display.Log().right(3000)));
            return std::nullopt;
        }
        const double start = bench::Now();
        const double cpu = bench::TreeCpuSeconds(bench::ProcessTree(pid));
        const QMap<QString, double> threadsBefore = bench::ThreadCpuSeconds(pid);
        QTemporaryDir perfFolder;
        bench::PerfRecorder recorder(perfFolder.path());
        if (perf) {
            recorder.Start(bench::ProcessTree(pid));
        }
        if (!waitFor(allThere, 600)) {
            std::fprintf(stderr, "the running display did not fetch every file\n");
            return std::nullopt;
        }
        const double wall = bench::Now() - start;
        result.cycle = {wall,
                        bench::TreeCpuSeconds(bench::ProcessTree(pid)) - cpu - drawingRate * wall};
        for (const auto& [name, seconds] : bench::ThreadCpuSeconds(pid).asKeyValueRange()) {
            result.threads[name] =
                seconds - threadsBefore.value(name) - threadDrawingRate.value(name) * wall;
        }
        result.profile = recorder.Report();
        return result;
    };
    QList<Round> rounds;
    for (int r = 0; r < roundCount; ++r) {
        if (const auto done = round(r)) {
            rounds << *done;
        } else {
            break;
        }
    }
    display.Stop();
    if (rounds.isEmpty()) {
        return;
    }
    const double mib = total / 1048576.0;
    std::printf(
        "on a running display (both engines up, main movie playing): %lld files, %.0f MiB, "
        "%lld rounds\n",
        static_cast<long long>(sizes.size()), mib, static_cast<long long>(rounds.size()));
    const auto line = [mib](const char* name, const bench::Usage& u, const char* more) {
        std::printf("  %-14s wall %6.2f s  cpu %6.2f s  %7.1f MiB/s  %.4f cpu-s/MiB%s\n", name,
                    u.wall, u.cpu, mib / u.wall, u.cpu / mib, more);
    };
    QList<double> throughput, cpuRatio;
    for (const Round& each : rounds) {
        line("curl + sync", each.curlSync, "");
        line("dravonelle", each.cycle, "");
        throughput << each.curlSync.wall / each.cycle.wall;
        cpuRatio << each.cycle.cpu / each.curlSync.cpu;
        QStringList threads;  // where the program's own process spent it
        double own = 0;
        for (const auto& [name, seconds] : each.threads.asKeyValueRange()) {
            own += seconds;
            if (seconds >= 0.01) {
                threads << QString("%1 %2 s").arg(name).arg(seconds, 0, 'f', 2);
            }
        }
        std::printf(
            "    its own process's threads, above their drawing: %s; the engines' other "
            "processes %.2f s\n",
            qPrintable(threads.join(", ")), each.cycle.cpu - own);
        if (!each.profile.isEmpty()) {
            std::printf("    where its time went:\n%s\n", qPrintable(each.profile));
        }
    }
    std::printf("  drawing, %.0f %% of a core, left out of the program's cpu\n", 100 * drawingRate);
    std::printf(
        "  against curl + sync (median of the rounds): throughput %.2f (target >= 1.2), cpu "
        "per MiB %.2f (target <= 1.1)\n",
        bench::Median(throughput), bench::Median(cpuRatio));
}

// A site that lists one file of `size` bytes, `name`: a film's bytes, which are not looked
// at (a picture that large would be made in this process, and count in its peak).
qint64 ListOneFilm(bench::Site& site, const QString& name, qint64 size) {
    bench::MakeSite(site, {});
    const qint64 written = bench::WriteFile(site.Www() + "/test/fotos/" + name, size);
    QFile listing(site.Www() + "/testdir.php");
    listing.open(QIODevice::WriteOnly);
    listing.write(QString("%1;1;%2").arg(name).arg(written).toUtf8());
    return written;
}

// A film of `mib` MiB whose transfer is cut at 90 %: the next cycle asks for the rest.
// Prints what each try fetched, from the site's own log of its answers.
void RunCutFilm(qint64 mib) {
    bench::Site site;
    const QString name = "film.bin";
    const qint64 size = ListOneFilm(site, name, mib << 20);
    const auto write = [](const QString& path, const QByteArray& text) {
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(text);
    };
    write(site.Faults(), "/test/fotos/" + name.toUtf8() + " cut:0.9\n");
    if (!site.Start(true)) {
        std::fprintf(stderr, "the content site did not start\n");
        return;
    }
    QTemporaryDir drive;
    const std::unique_ptr<Form1> form = bench::CycleWindow(site, drive.path() + "/drive_c");
    const auto answered = [&] {  // the film's answers: status and bytes sent
        QFile log(site.Answers());
        log.open(QIODevice::ReadOnly);
        QStringList film;
        for (const QByteArray& line : log.readAll().split('\n')) {
            if (line.contains(name.toUtf8())) {
                film << QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
            }
        }
        return film.join(", ");
    };
    const auto cycle = [&](const char* what, auto run) {
        QFile::remove(site.Answers());
        const double wall = bench::Now();
        run();
        bool landed = false;
        form->Platform().files->AfterCommits([&landed] { landed = true; });
        platform::WaitUntil([&] { return landed; }, nullptr, -1);
        std::printf("  %-26s %6.2f s  the film's answers (status, bytes sent): %s\n", what,
                    bench::Now() - wall, qPrintable(answered()));
    };
    std::printf("a %lld MiB film cut at 90 %% (%lld bytes)\n", static_cast<long long>(mib),
                static_cast<long long>(size));
    cycle("cut (start-up cycle)", [&] { form->Form_Activate(); });
    QFile::remove(site.Faults());
    const quint64 resumedBefore = form->status.Snapshot().bytesSaved[2];
    cycle("next cycle", [&] { form->UpdateContent(); });
    QFile landed(
        form->Platform().files->HostPath("c:\\fileftp\\BUFFER\\" + name).value_or(QString()));
    QFile served(site.Www() + "/test/fotos/" + name);
    landed.open(QIODevice::ReadOnly);
    served.open(QIODevice::ReadOnly);
    std::printf("  resumed: %.1f MiB not fetched again; the film landed whole and equal: %s\n",
                (form->status.Snapshot().bytesSaved[2] - resumedBefore) / 1048576.0,
                landed.size() == size && landed.readAll() == served.readAll() ? "yes" : "NO");
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
        ListOneFilm(site, "film.bin", big);
        if (!site.Start()) {
            return 1;
        }
        qint64 idle = 0;
        RunCycle(site, &idle);
        std::printf("%ld %lld\n", bench::PeakRssKiB(), static_cast<long long>(idle));
        return 0;
    }

    if (args.contains("--cut")) {
        RunCutFilm(bench::IntArg(args, "--film-mib", 50));
        return 0;
    }
    const QList<qint64> sizes = bench::MixedSizes(files, total);
    if (args.contains("--running")) {
        RunOnTheDisplay(sizes, static_cast<int>(bench::IntArg(args, "--rounds", 5)),
                        args.contains("--perf"));
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
