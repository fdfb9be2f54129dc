// Pushing one large file (1 GiB by default) in 64 KiB chunks with dravonelle-push to a
// display, against a raw TCP copy of the same file on loopback in the same run.
//
//   push_bench [--mib N] [--chunk BYTES]
#include "bench_support.h"
#include "window/form1.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>
#include <cstdio>

namespace {

const char* kRawReceiver = R"(
import socket, sys
s = socket.socket(); s.bind(('127.0.0.1', 0)); s.listen(1)
print(s.getsockname()[1], flush=True)
c, _ = s.accept()
buf = bytearray(1 << 20)
with open(sys.argv[1], 'wb') as f:
    while True:
        n = c.recv_into(buf)
        if not n: break
        f.write(buf[:n])
)";

const char* kRawSender = R"(
import socket, sys
c = socket.create_connection(('127.0.0.1', int(sys.argv[2])))
with open(sys.argv[1], 'rb') as f: c.sendfile(f)
c.close()
)";

// Child mode: a display that only serves pushes; prints its port, and at the end of
// its standard input its CPU seconds and peak resident KiB.
int RunDisplay() {
    QTemporaryDir drive;
    Form1 form(bench::RealPlatform(drive.path() + "/drive_c", platform::Endpoints::Defaults(), 0));
    if (!form.Form_Load()) {
        return 1;
    }
    (void)form.Platform().files->CreateFolder("c:\\fileftp");
    std::printf("%d\n", form.WskServer.LocalPort(0));
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char byte;
        if (::read(STDIN_FILENO, &byte, 1) <= 0) {
            std::printf("%.3f %ld\n", bench::CpuSeconds(RUSAGE_SELF), bench::PeakRssKiB());
            std::fflush(stdout);
            QCoreApplication::quit();
        }
    });
    return QApplication::exec();
}

double Run(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const double start = bench::Now();
    process.start(program, args);
    process.waitForFinished(-1);
    if (process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardOutput().constData());
    }
    return bench::Now() - start;
}

}  // namespace

int main(int argc, char** argv) {
    bench::QuietOffscreen();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains("--display")) {
        return RunDisplay();
    }
    const qint64 mib = bench::IntArg(args, "--mib", 1024);
    const QString chunk = QString::number(bench::IntArg(args, "--chunk", 65536));

    QTemporaryDir temp;
    const QString source = temp.path() + "/source.bin";
    {
        QFile file(source);
        file.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, 'p');
        for (qint64 i = 0; i < mib; ++i) {
            file.write(block);
        }
    }

    // The raw copy.
    QProcess receiver;
    receiver.start("python3", {"-c", kRawReceiver, temp.path() + "/raw.bin"});
    receiver.waitForReadyRead(10000);
    const QString rawPort = QString::fromUtf8(receiver.readLine().trimmed());
    const double rawStart = bench::Now();
    Run("python3", {"-c", kRawSender, source, rawPort});
    receiver.waitForFinished(-1);
    const double raw = bench::Now() - rawStart;
    QFile::remove(temp.path() + "/raw.bin");

    // The push to a display.
    QProcess display;
    display.start(app.applicationFilePath(), {"--display"});
    display.waitForReadyRead(10000);
    const QString port = QString::fromUtf8(display.readLine().trimmed());
    const double push = Run(BENCH_PUSH_CLIENT,
                            {"--port", port, "--chunk", chunk, "127.0.0.1", source + "=big.bin"});
    display.closeWriteChannel();
    display.waitForFinished(-1);
    const QList<QByteArray> figures = display.readAllStandardOutput().trimmed().split(' ');

    std::printf("push of %lld MiB in %s-byte chunks over loopback\n", static_cast<long long>(mib),
                qPrintable(chunk));
    std::printf("  raw TCP copy     %6.2f s  %7.1f MiB/s\n", raw, mib / raw);
    std::printf("  dravonelle-push  %6.2f s  %7.1f MiB/s\n", push, mib / push);
    std::printf("  throughput ratio (push/raw) %.2f  (target >= 0.5)\n", raw / push);
    if (figures.size() == 2) {
        std::printf("  display: cpu %.2f s (%.1f %% of the push), peak resident %.1f MiB\n",
                    figures[0].toDouble(), 100 * figures[0].toDouble() / push,
                    figures[1].toLong() / 1024.0);
    }
    return 0;
}
