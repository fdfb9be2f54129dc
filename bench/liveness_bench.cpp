// How long the event loop stalls while the program does its slow work. Runs the program's
// logic on its real adapters (offscreen) and measures, for each piece of work, the gaps
// between the ticks of a 5 ms timer: their 99th percentile and their largest.
//
//   liveness_bench [--only NAME] [--files N] [--total-mib M] [--import-mib I]
//                  [--push-mib P] [--movie-mib V] [--slow-sync-ms S]
//                  [--status-files F] [--status-requests R]
//
// NAME is one of: update, status, asrun, push, import, radio, hangup, movie, photo.
// With --slow-sync-ms every sync of a file or folder on the drive takes S ms more, as on
// a busy SD card; the slow-disk row is
//   liveness_bench --slow-sync-ms 400 --files 30 --push-mib 200 --only update (push, import)
// The update and push rows last until the disk has every file.
#include "bench_support.h"
#include "content_site.h"
#include "module1/module1.h"
#include "platform/dbus/dbus_power.h"
#include "platform/event_loop.h"
#include "platform/qt/asrun_file_log.h"
#include "platform/qt/proc_memory_gauge.h"
#include "platform/ruffle/ruffle_flash_player.h"
#include "platform/vlc/vlc_media_player.h"
#include "support/media_files.h"
#include "support/ruffle_peer.h"
#include "window/form1.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <unistd.h>

namespace {

// The gaps between the ticks of a 5 ms timer while it runs.
class StallMeter {
  public:
    StallMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            gaps_ << (now - last_) / 1e6;
            last_ = now;
        });
    }
    void Start() {
        gaps_.clear();
        clock_.start();
        last_ = 0;
        timer_.start();
    }
    // Prints a row: the work, ticks, p99 and largest gap, and whether both meet the targets.
    bool Stop(const char* work) {
        timer_.stop();
        gaps_ << (clock_.nsecsElapsed() - last_) / 1e6;  // the gap up to now counts too
        std::sort(gaps_.begin(), gaps_.end());
        const double p99 = gaps_[std::min<qsizetype>(gaps_.size() - 1, gaps_.size() * 99 / 100)];
        const double max = gaps_.last();
        const bool met = p99 <= 20 && max <= 100;
        std::printf("%-44s %7lld %8.1f %8.1f  %s\n", work, static_cast<long long>(gaps_.size()),
                    p99, max, met ? "met" : "MISSED");
        std::fflush(stdout);
        return met;
    }

  private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    QList<double> gaps_;
};

void Pump(int ms) {
    platform::WaitUntil([] { return false; }, nullptr, ms);
}

// A file dialog that picks one file, given by its host path.
class PickFile : public platform::FileDialog {
  public:
    explicit PickFile(QString path) : path_(std::move(path)) {}
    void ShowOpen() override {
        FileName = path_;
        FileTitle = QFileInfo(path_).fileName();
    }

  private:
    QString path_;
};

// A radio station on loopback: an endless WAV tone at its real rate. When a listener
// comes, those before it get nothing more and are never closed, as a server that stops
// answering when a player lets go.
class FrozenStation : public QObject {
  public:
    FrozenStation() {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                frozen_ << current_;
                current_ = socket;
                QByteArray wav = "HTTP/1.0 200 OK\r\nContent-Type: audio/wav\r\n\r\nRIFF";
                wav += QByteArray::fromHex("ffffff7f") + "WAVEfmt " +
                       QByteArray::fromHex("1000000001000100401f0000803e000002001000") + "data" +
                       QByteArray::fromHex("ffffff7f");
                socket->write(wav);
            }
        });
        connect(&tick_, &QTimer::timeout, this, [this] {
            if (current_) {
                current_->write(QByteArray(1600, '\x10'));  // 100 ms of sound
            }
        });
        tick_.start(100);
    }
    QString Address() const {
        return "http://127.0.0.1:" + QString::number(server_.serverPort()) + "/radio.wav";
    }

  private:
    QTcpServer server_;
    QTimer tick_;
    QPointer<QTcpSocket> current_;
    QList<QPointer<QTcpSocket>> frozen_;
};

// A movie of `mib` MiB, compressed: a small animation and a block of random binary data.
QByteArray LargeCompressedMovie(int mib) {
    const QByteArray plain = bench::BarMovie(24, 12, false);
    QByteArray body = plain.mid(8, plain.size() - 8 - 2);  // without header and End tag
    QByteArray data(static_cast<qsizetype>(mib) << 20, Qt::Uninitialized);
    QRandomGenerator generator(7);
    generator.fillRange(reinterpret_cast<quint32*>(data.data()), data.size() / 4);
    const quint32 length = static_cast<quint32>(data.size() + 6);
    const auto u16 = [&](quint16 v) { body += char(v & 0xff), body += char(v >> 8); };
    const auto u32 = [&](quint32 v) { u16(v & 0xffff), u16(static_cast<quint16>(v >> 16)); };
    u16((87 << 6) | 0x3f);  // DefineBinaryData, long form
    u32(length);
    u16(900);
    u32(0);
    body += data;
    u16(0);  // End
    QByteArray movie = "CWS";
    movie += plain[3];
    const quint32 total = static_cast<quint32>(8 + body.size());
    movie += char(total & 0xff), movie += char((total >> 8) & 0xff);
    movie += char((total >> 16) & 0xff), movie += char(total >> 24);
    movie += qCompress(body, 1).mid(4);  // zlib stream without Qt's length prefix
    return movie;
}

// Pumps until the drive has put down every write and move asked of it so far.
void WaitForDisk(platform::FileSystem& files) {
    bool landed = false;
    files.AfterCommits([&landed] { landed = true; });
    platform::WaitUntil([&] { return landed; }, nullptr, 600000);
}

// Runs this program again with the slow disk preloaded, when it is asked for and not yet
// there; returns only when it is not asked for or cannot be preloaded.
void PreloadSlowDisk(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--slow-sync-ms") == 0 &&
            !std::getenv("DRAVONELLE_SLOW_SYNC_MS")) {
            ::setenv("DRAVONELLE_SLOW_SYNC_MS", argv[i + 1], 1);
            ::setenv("LD_PRELOAD", BENCH_SLOW_SYNC, 1);
            ::execv("/proc/self/exe", argv);
            std::perror("cannot run again with the slow disk");
        }
    }
}

struct Drive {
    QTemporaryDir dir;
    QString Path() const { return dir.path() + "/drive_c"; }
    QString Host(const QString& under) const { return Path() + "/" + under; }
};

bool UpdateRow(const QStringList& args, StallMeter& meter) {
    const int files = static_cast<int>(bench::IntArg(args, "--files", 200));
    const qint64 total = bench::IntArg(args, "--total-mib", 256) << 20;
    bench::Site site;
    bench::MakeSite(site, QList<qint64>(files, total / files));
    if (!site.Start()) {
        std::fprintf(stderr, "content site did not start\n");
        return false;
    }
    Drive drive;
    const std::unique_ptr<Form1> form = bench::CycleWindow(site, drive.Path());
    meter.Start();
    form->Form_Activate();  // the start-up cycle, with the move out of the buffer
    WaitForDisk(*form->Platform().files);
    return meter.Stop(qPrintable(QString("update cycle, %1 files").arg(files)));
}

bool StatusRow(const QStringList& args, StallMeter& meter) {
    // /status and /metrics in turn, 20 a second, on a content folder of many files and
    // with the program's memory read from /proc.
    const int files = static_cast<int>(bench::IntArg(args, "--status-files", 5000));
    const int requests = static_cast<int>(bench::IntArg(args, "--status-requests", 200));
    Drive drive;
    QDir().mkpath(drive.Host("fileftp/fotos"));
    for (int i = 0; i < files; ++i) {
        bench::WriteFile(drive.Host(QString("fileftp/fotos/p%1.jpg").arg(i)), 1024);
    }
    platform::Platform p = bench::RealPlatform(drive.Path(), platform::Endpoints::Defaults(), 0);
    p.memory = std::make_unique<platform::ProcMemoryGauge>();
    Form1 form(std::move(p));
    (void)form.Form_Load();
    int asked = 0, answered = 0;
    QTimer ask;
    QObject::connect(&ask, &QTimer::timeout, [&] {
        const QString path = asked++ % 2 ? "/metrics" : "/status";
        form.status.Answer({path, {}}, [&](const platform::HttpAnswer&) { ++answered; });
    });
    meter.Start();
    ask.start(50);
    platform::WaitUntil([&] { return answered >= requests; }, nullptr, 120000);
    ask.stop();
    return meter.Stop(qPrintable(QString("%1 status requests, %2 files").arg(requests).arg(files)));
}

bool AsRunRow(const QStringList& args, StallMeter& meter) {
    // The as-run log at ten items a second, each a photo of its own file; its CPU is
    // given per item, that is as a share of a core at one item a second.
    const int items = static_cast<int>(bench::IntArg(args, "--asrun-items", 300));
    Drive drive;
    QDir().mkpath(drive.Host("fileftp"));
    for (int i = 0; i < 10; ++i) {
        bench::WriteFile(drive.Host(QString("fileftp/p%1.jpg").arg(i)), 2 << 20);
    }
    platform::AsRunFileLog::Options options;
    options.folder = drive.Path() + "/../asrun";
    options.hostPath = [&drive](const QString& path) {
        return std::optional<QString>(
            drive.Host("fileftp/" + path.mid(path.lastIndexOf('\\') + 1)));
    };
    platform::AsRunFileLog log(options);
    const double cpu0 = bench::CpuSeconds(RUSAGE_SELF);
    meter.Start();
    int started = 0;
    quint64 previous = 0;
    QTimer next;
    QObject::connect(&next, &QTimer::timeout, [&] {
        platform::AsRunLog::Start start;
        start.at = QDateTime::currentDateTime();
        start.kind = on_air::Kind::kPhoto;
        start.name = QString("p%1.jpg").arg(started % 10);
        start.file = "c:\\fileftp\\" + start.name;
        start.plannedMs = 100;
        if (previous != 0) {
            platform::AsRunLog::End end;
            end.at = start.at;
            end.outcome = on_air::Outcome::kEnded;
            log.Finish(previous, end);
        }
        previous = log.Begin(start);
        ++started;
    });
    next.start(100);
    platform::WaitUntil([&] { return started >= items; }, nullptr, 600000);
    next.stop();
    log.Flush(10000);
    const bool met =
        meter.Stop(qPrintable(QString("as-run log, %1 items, 10 a second").arg(items)));
    std::printf("# as-run log: %.3f ms of CPU an item, %.3f %% of a core at one a second\n",
                1000 * (bench::CpuSeconds(RUSAGE_SELF) - cpu0) / items,
                100 * (bench::CpuSeconds(RUSAGE_SELF) - cpu0) / items);
    return met;
}

bool PushRow(const QStringList& args, StallMeter& meter) {
    const qint64 size = bench::IntArg(args, "--push-mib", 200) << 20;
    Drive drive;
    QDir().mkpath(drive.Host("fileftp"));
    QDir().mkpath(drive.Host("stick"));
    bench::WriteFile(drive.Host("stick/film.mpg"), size);
    Form1 form(bench::RealPlatform(drive.Path(), platform::Endpoints::Defaults(), 0));
    (void)form.Form_Load();
    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedChannels);
    meter.Start();
    client.start(BENCH_PUSH_CLIENT, {"--port", QString::number(form.WskServer.LocalPort(0)),
                                     "127.0.0.1", drive.Host("stick/film.mpg") + "=film.mpg"});
    platform::WaitUntil([&] { return client.state() == QProcess::NotRunning; }, nullptr, 600000);
    WaitForDisk(*form.Platform().files);
    if (client.exitCode() != 0 || QFileInfo(drive.Host("fileftp/film.mpg")).size() != size) {
        std::fprintf(stderr, "the push did not complete\n");
    }
    return meter.Stop(qPrintable(QString("push of %1 MiB").arg(size >> 20)));
}

bool ImportRow(const QStringList& args, StallMeter& meter) {
    const qint64 size = bench::IntArg(args, "--import-mib", 1024) << 20;
    Drive drive;
    QDir().mkpath(drive.Host("stick"));
    QDir().mkpath(drive.Host("fileftp"));
    bench::WriteFile(drive.Host("stick/big.mpg"), size);
    platform::Platform p = bench::RealPlatform(drive.Path(), platform::Endpoints::Defaults(), 0);
    p.fileDialog = std::make_unique<PickFile>(drive.Host("stick/big.mpg"));
    Form1 form(std::move(p));
    (void)form.Form_Load();
    const QString target = drive.Host("fileftp/big.mpg");
    meter.Start();
    form.FileCopyButton_Click();
    if (!platform::WaitUntil([&] { return QFileInfo(target).size() == size; }, nullptr, 300000)) {
        std::fprintf(stderr, "the import did not complete\n");
    }
    return meter.Stop(qPrintable(QString("import of %1 MiB").arg(size >> 20)));
}

bool RadioRow(const QStringList&, StallMeter& meter) {
    FrozenStation station;
    Drive drive;
    platform::Platform p = bench::RealPlatform(
        drive.Path(), {"site.test", "http://127.0.0.1:1/w.jpg", station.Address()}, 0);
    platform::FileSystem* files = p.files.get();
    platform::VlcMediaPlayer::Options media;
    media.audioOutput = "adummy";
    media.hostPath = [files](const QString& path) { return files->HostPath(path); };
    p.media = std::make_unique<platform::VlcMediaPlayer>(media);
    Form1 form(std::move(p));
    (void)form.Form_Load();
    meter.Start();
    for (int i = 0; i < 20; ++i) {
        form.StartRadio();
        Pump(500);
        form.StopRadio();
    }
    Pump(500);
    return meter.Stop("20 radio restarts, station stops answering");
}

bool HangUpRow(const QStringList&, StallMeter& meter) {
    bool met = false;
    QProcess daemon;
    daemon.setStandardErrorFile(QProcess::nullDevice());
    daemon.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    daemon.waitForReadyRead(10000);
    const QString address = QString::fromUtf8(daemon.readLine().trimmed());
    QProcess mock;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", address);
    mock.setProcessEnvironment(env);
    mock.setStandardOutputFile(QProcess::nullDevice());
    mock.setStandardErrorFile(QProcess::nullDevice());
    mock.start("/usr/bin/python3", {"-m", "dbusmock", "--system", "--template", "networkmanager"});
    QProcess setup;
    for (int tries = 0; tries < 50; ++tries) {
        setup.setStandardErrorFile(QProcess::nullDevice());
        setup.start("/usr/bin/python3",
                    {BENCH_NM_SETUP, address, "--delay=0.9", "gsm:mobile", "pppoe:dsl"});
        if (setup.waitForFinished(20000) && setup.exitCode() == 0) {
            break;
        }
        QThread::msleep(200);
    }
    {
        platform::NetworkManagerDialUp dialUp(
            QDBusConnection::connectToBus(address, "liveness-bus"));
        meter.Start();
        for (int i = 0; i < 3; ++i) {
            Module1::HangUpDialUp(dialUp);
            Pump(2000);
        }
        met = meter.Stop("3 hang-ups, NetworkManager answers in 900 ms");
        QDBusMessage calls = QDBusMessage::createMethodCall(
            "org.freedesktop.NetworkManager", "/org/freedesktop/NetworkManager",
            "org.freedesktop.DBus.Mock", "GetMethodCalls");
        calls << QString("DeactivateConnection");
        const QDBusMessage reply =
            QDBusConnection::connectToBus(address, "liveness-bus").call(calls, QDBus::Block, 5000);
        std::printf("#   NetworkManager was asked %lld times to hang up\n",
                    reply.arguments().isEmpty()
                        ? -1LL
                        : static_cast<long long>(
                              qdbus_cast<QVariantList>(reply.arguments().first()).size()));
    }
    QDBusConnection::disconnectFromBus("liveness-bus");
    mock.kill();
    mock.waitForFinished();
    daemon.kill();
    daemon.waitForFinished();
    return met;
}

bool MovieRow(const QStringList& args, StallMeter& meter) {
    Drive drive;
    QDir().mkpath(drive.Host("fileftp"));
    const int movieMib = static_cast<int>(bench::IntArg(args, "--movie-mib", 50));
    for (const auto& [name, bytes] :
         {std::pair<QString, QByteArray>{"first.swf", bench::BarMovie(12, 12, true)},
          {"large.swf", LargeCompressedMovie(movieMib)}}) {
        QFile file(drive.Host("fileftp/" + name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
    platform::Platform p = bench::RealPlatform(drive.Path(), platform::Endpoints::Defaults(), 0);
    platform::FileSystem* files = p.files.get();
    platform::RuffleFlashPlayer::Options flash;
    flash.engineFolder = BENCH_ENGINE_DIR;
    flash.programFolder = BENCH_ENGINE_DIR "/..";
    flash.hostPath = [files](const QString& path) { return files->HostPath(path); };
    p.flash1 = std::make_unique<platform::RuffleFlashPlayer>(flash);
    Form1 form(std::move(p));
    form.resize(1280, 720);
    form.show();
    auto* player = dynamic_cast<platform::RuffleFlashPlayer*>(&form.ShockwaveFlash1);
    platform::WaitUntil([&] { return platform::RuffleFlashPlayerPeer(*player).PageReady(); },
                        nullptr, 60000);
    const auto play = [&](const QString& movie) {
        form.ShockwaveFlash1.SetMovie(movie);
        platform::WaitUntil(
            [&] {
                return platform::RuffleFlashPlayerPeer(*player).ShowingFrames() ||
                       platform::RuffleFlashPlayerPeer(*player).Failed();
            },
            nullptr, 60000);
        Pump(1000);
    };
    // The first movie the page shows costs the web view a one-off start; what is
    // measured is a movie that replaces another, as the channel's movies do.
    play("c:\\fileftp\\first.swf");
    meter.Start();
    play("c:\\fileftp\\large.swf");
    return meter.Stop(qPrintable(QString("Movie := a %1 MiB compressed movie").arg(movieMib)));
}

bool PhotoRow(const QStringList&, StallMeter& meter) {
    Drive drive;
    QDir().mkpath(drive.Host("fileftp"));
    QImage picture(6000, 4000, QImage::Format_RGB32);
    picture.fill(QColor(40, 90, 160));
    picture.save(drive.Host("fileftp/large.jpg"), "JPG", 95);
    QFile::copy(drive.Host("fileftp/large.jpg"), drive.Host("fileftp/clip.mpg"));
    Form1 form(bench::RealPlatform(drive.Path(), platform::Endpoints::Defaults(), 0));
    (void)form.Form_Load();
    form.resize(1280, 720);
    form.show();
    meter.Start();
    for (int i = 0; i < 5; ++i) {
        QTimer::singleShot(20, &form,
                           [&] { form.ShockwaveFlash1_FSCommand("film", "film:clip.mpg"); });
        form.ShockwaveFlash1_FSCommand("foto", "foto:large.jpg,0.2");
        Pump(1500);
    }
    return meter.Stop("5 films arriving during a 6000 x 4000 photo");
}

}  // namespace

int main(int argc, char** argv) {
    PreloadSlowDisk(argc, argv);
    bench::PrepareEngine();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype onlyAt = args.indexOf("--only");
    const QString only = onlyAt >= 0 && onlyAt + 1 < args.size() ? args[onlyAt + 1] : QString();
    const auto wanted = [&](const char* name) { return only.isEmpty() || only == name; };
    std::printf(
        "# event loop stalls, 5 ms timer, platform %s; targets p99 <= 20 ms, max <= 100 ms\n",
        qPrintable(QGuiApplication::platformName()));
    if (const char* slow = std::getenv("DRAVONELLE_SLOW_SYNC_MS")) {
        std::printf("# slow disk: every sync on the drive takes %s ms more\n", slow);
    }
    std::printf("%-44s %7s %8s %8s\n", "work", "ticks", "p99 ms", "max ms");
    StallMeter meter;
    bool allMet = true;

    const struct {
        const char* name;
        bool (*row)(const QStringList& args, StallMeter& meter);
    } rows[] = {{"update", UpdateRow}, {"status", StatusRow}, {"asrun", AsRunRow},
                {"push", PushRow},     {"import", ImportRow}, {"radio", RadioRow},
                {"hangup", HangUpRow}, {"movie", MovieRow},   {"photo", PhotoRow}};
    for (const auto& [name, row] : rows) {
        if (wanted(name)) {
            allMet &= row(args, meter);
        }
    }
    return allMet ? 0 : 1;
}
