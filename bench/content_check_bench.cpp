// What the content check costs beside the write it guards: a 50 MiB film and a
// 20-megapixel photo, each written as the program writes a fetched file (beside its
// target, put on the disk, renamed) and each checked as the commit checks it, on the same
// disk. The check reads the file the write has just left in the page cache, as it does on
// the commit worker.
//   build-bench/bench/content_check_bench [--folder DIR] [--runs N]
#include "bench_support.h"
#include "content/content_check.h"
#include "platform/qt/drive_file_system.h"
#include "platform/vlc/vlc_media_probe.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray Photo(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    quint32 seed = 1;
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;  // a busy picture, as a photo is
            line[x] = qRgb((x / 8 + (seed >> 26)) % 256, (y / 8 + (seed >> 20) % 32) % 256,
                           ((x ^ y) + (seed >> 12) % 16) % 256);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return bytes;
}

QByteArray Film(const QString& folder, qint64 bytes) {
    const QString path = folder + "/film.mpg";
    // Noise keeps the encoder at the rate asked for, as a busy film does.
    const QString rate = QString::number(bytes * 8 / 20);
    QProcess::execute("ffmpeg", {"-v",
                                 "error",
                                 "-y",
                                 "-f",
                                 "lavfi",
                                 "-i",
                                 "testsrc2=size=1280x720:rate=25",
                                 "-t",
                                 "20",
                                 "-vf",
                                 "noise=alls=60:allf=t",
                                 "-c:v",
                                 "mpeg2video",
                                 "-b:v",
                                 rate,
                                 "-minrate",
                                 rate,
                                 "-maxrate",
                                 rate,
                                 "-bufsize",
                                 rate,
                                 "-f",
                                 "mpeg",
                                 path});
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = static_cast<int>(bench::IntArg(args, "--runs", 5));
    const qsizetype at = args.indexOf("--folder");
    QTemporaryDir temp(at > 0 && at + 1 < args.size() ? args[at + 1] + "/check-XXXXXX"
                                                      : QDir::currentPath() + "/check-XXXXXX");
    platform::DriveFileSystem drive(temp.path() + "/drive_c");
    QDir().mkpath(temp.path() + "/drive_c/fileftp");
    platform::VlcMediaProbe probe;
    struct Item {
        const char* name;
        QByteArray bytes;
    } items[] = {
        {"film.mpg", Film(temp.path(), 50LL << 20)},
        {"photo.jpg", Photo(QSize(5472, 3648))},
    };
    std::printf("folder %s, %d runs, medians\n", qPrintable(temp.path()), runs);
    std::printf("%-10s %10s %12s %12s %12s %10s\n", "file", "MiB", "write ms", "check ms",
                "check cpu ms", "check/write");
    for (const auto& item : items) {
        if (item.bytes.isEmpty()) {
            std::printf("%-10s could not be made\n", item.name);
            continue;
        }
        const QString target = QStringLiteral("c:\\fileftp\\") + item.name;
        QList<double> writes, checks, cpus;
        for (int run = 0; run < runs; ++run) {
            auto file = drive.CreateDurable(target);
            const double start = bench::Now();
            bool done = false;
            (void)(*file)->Write(item.bytes);
            (*file)->Commit([&](const platform::Result<>&) { done = true; });
            bench::WaitFor([&] { return done; }, 120, 1);
            writes.push_back(bench::Now() - start);
            const QString host = *drive.HostPath(target);
            const double checkStart = bench::Now();
            const double cpuStart = bench::CpuSeconds(RUSAGE_SELF);
            const auto refused = content::Inspect(host, item.name, &probe);
            checks.push_back(bench::Now() - checkStart);
            cpus.push_back(bench::CpuSeconds(RUSAGE_SELF) - cpuStart);
            if (refused) {
                std::printf("%s refused: %s\n", item.name, qPrintable(refused->reason));
            }
        }
        const double write = bench::Median(writes), check = bench::Median(checks);
        std::printf("%-10s %10.1f %12.1f %12.1f %12.1f %9.2fx\n", item.name,
                    item.bytes.size() / 1048576.0, write * 1000, check * 1000,
                    bench::Median(cpus) * 1000, check / write);
    }
    return 0;
}
