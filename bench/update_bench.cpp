// One update cycle fetching 200 listed files (256 MiB in all) from a loopback server,
// against curl fetching the same addresses from the same server; then the peak memory
// of one cycle that fetches a single 1 GiB file. The cycle puts every file on the disk
// before it replaces the old one; curl does not, so it is also timed followed by sync(1)
// of what it wrote: the same bytes on the same disk.
//
//   update_bench [--files N] [--total-mib M] [--big-mib B]
#include "bench_support.h"
#include "content_site.h"
#include "platform/event_loop.h"
#include "window/form1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

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

// curl fetching every address into a file of its own; with `thenSync`, followed by
// sync(1) of those files, so that both sides have put the same bytes on the disk.
bench::Usage RunCurl(bench::Site& site, const QStringList& paths, bool thenSync) {
    QTemporaryDir out;
    QStringList args = {"-s", "-f"}, written;
    int i = 0;
    for (const QString& path : paths) {
        written << out.path() + "/" + QString::number(i++);
        args << "-o" << written.last() << "http://127.0.0.1:" + QString::number(site.port) + path;
    }
    QProcess curl, sync;
    const double wall = bench::Now(), cpu = bench::CpuSeconds(RUSAGE_CHILDREN);
    curl.start("curl", args);
    curl.waitForFinished(-1);
    if (thenSync) {
        sync.start("sync", written);
        sync.waitForFinished(-1);
    }
    return {bench::Now() - wall, bench::CpuSeconds(RUSAGE_CHILDREN) - cpu};
}

void PrintAgainst(const char* name, const bench::Usage& baseline, const bench::Usage& cycle,
                  double throughputTarget) {
    std::printf(
        "  against %-12s throughput %.2f (target >= %.1f), cpu per MiB %.2f (target <= "
        "1.5)\n",
        name, baseline.wall / cycle.wall, throughputTarget, cycle.cpu / baseline.cpu);
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

    // Mixed sizes: many small pictures, some large films, adding up to `total`.
    std::mt19937 random(7);
    QList<double> weights;
    double sum = 0;
    for (int i = 0; i < files; ++i) {
        const double w = std::exp(std::uniform_real_distribution<double>(0, 6)(random));
        weights << w;
        sum += w;
    }
    QList<qint64> sizes;
    for (double w : weights) {
        sizes << std::max<qint64>(1, static_cast<qint64>(w / sum * total));
    }
    bench::Site site;
    const QStringList paths = bench::MakeSite(site, sizes);
    if (!site.Start()) {
        std::fprintf(stderr, "content site did not start\n");
        return 1;
    }
    // Each run starts with nothing of the one before still to be written.
    ::sync();
    const bench::Usage curl = RunCurl(site, paths, false);
    ::sync();
    const bench::Usage curlSync = RunCurl(site, paths, true);
    ::sync();
    const bench::Usage cycle = RunCycle(site);
    const double mib = total / 1048576.0;
    std::printf("update cycle: %d files, %.0f MiB from a loopback server\n", files, mib);
    const auto line = [mib](const char* name, const bench::Usage& u) {
        std::printf("  %-14s wall %6.2f s  cpu %6.2f s  %7.1f MiB/s  %.4f cpu-s/MiB\n", name,
                    u.wall, u.cpu, mib / u.wall, u.cpu / mib);
    };
    line("curl", curl);
    line("curl + sync", curlSync);
    line("dravonelle", cycle);  // every file on the disk before it replaces the old one
    PrintAgainst("curl", curl, cycle, 0.7);             // the network's limit: a goal
    PrintAgainst("curl + sync", curlSync, cycle, 1.0);  // the same bytes on the same disk

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
