#include "bench_support.h"

#include "platform/curl/curl_inet.h"
#include "platform/dbus/dbus_power.h"
#include "platform/qt/drive_file_system.h"
#include "platform/qt/proc_memory_gauge.h"
#include "platform/qt/qt_desktop.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_wsk_server.h"
#include "platform/real_platform.h"
#include "standin_players.h"
#include "swf/swf.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <csignal>

#include <unistd.h>

#include <chrono>

namespace bench {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long CurrentRssKiB() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLong();
        }
    }
    return -1;
}

QList<int> ProcessTree(int root) {
    return platform::ProcMemoryGauge::ProcessTree(root);
}

double PssMiB(const QList<int>& pids) {
    return platform::ProcMemoryGauge::PssMiB(pids);
}

double AnonMiB(const QList<int>& pids) {
    return platform::ProcMemoryGauge::RollupMiB(pids, "Anonymous");
}

namespace {

// A process's or thread's stat file: its command's name, and the fields after the name
// (the split leaves an empty field 0; field 1 is the state). Empty when it is gone.
struct Stat {
    QString name;
    QList<QByteArray> fields;
    double Sum(std::initializer_list<int> which) const {
        double sum = 0;
        for (const int field : which) {
            sum += field < fields.size() ? fields[field].toDouble() : 0;
        }
        return sum;
    }
    double CpuSeconds() const { return Sum({12, 13}) / static_cast<double>(sysconf(_SC_CLK_TCK)); }
};

Stat ReadStat(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray line = file.readAll();
    const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
    return {QString::fromUtf8(line.mid(open + 1, close - open - 1)),
            line.mid(close + 1).split(' ')};
}

// The sum over `pids` of fields of /proc/PID/stat.
double SumOfStatFields(const QList<int>& pids, std::initializer_list<int> fields) {
    double sum = 0;
    for (int pid : pids) {
        sum += ReadStat(QString("/proc/%1/stat").arg(pid)).Sum(fields);
    }
    return sum;
}

}  // namespace

double TreeCpuSeconds(const QList<int>& pids) {
    double seconds = 0;
    for (int pid : pids) {
        seconds += ReadStat(QString("/proc/%1/stat").arg(pid)).CpuSeconds();
    }
    return seconds;
}

QMap<QString, double> ThreadCpuSeconds(int pid) {
    QMap<QString, double> byName;
    const QDir tasks(QString("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (const Stat stat = ReadStat(tasks.filePath(task) + "/stat"); !stat.fields.isEmpty()) {
            byName[stat.name] += stat.CpuSeconds();
        }
    }
    return byName;
}

double TreeMinorFaults(const QList<int>& pids) {
    return SumOfStatFields(pids, {8});
}

double Median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

qint64 IntArg(const QStringList& args, const QString& name, qint64 fallback) {
    const qsizetype at = args.indexOf(name);
    bool ok = false;
    const qint64 value = at >= 0 && at + 1 < args.size() ? args[at + 1].toLongLong(&ok) : 0;
    return ok ? value : fallback;
}

void QuietOffscreen() {
    qputenv("QT_LOGGING_RULES", "dravonelle.*=false");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

namespace {

// Refused, through the event loop as the system answers.
class NoPowerOff : public platform::PowerOff {
  public:
    void RequestPowerOff(platform::SystemDone done) override {
        QTimer::singleShot(0, [done] { done(platform::Fail("bench")); });
    }
};

class NoDialUp : public platform::DialUp {
  public:
    void ActiveConnections(SnapshotDone done) override {
        QTimer::singleShot(0, [done] { done(platform::Fail("bench")); });
    }
    void Deactivate(const platform::ActiveConnection&, platform::SystemDone) override {}
};

}  // namespace

void PrepareEngine() {
    QuietOffscreen();
    platform::PrepareAllocator();
    platform::PrepareWebEngine();
}

QByteArray BarMovie(int frames, double fps, bool compress) {
    swf::Writer writer(8, QSize(800, 600), fps);
    writer.SetBackground(QColor(20, 40, 90));
    for (int i = 0; i < frames; ++i) {
        writer.AddRectangle(100 + i, QRect(30 * (i % 24), 250, 60, 100), QColor(230, 160, 20),
                            1 + i);
        writer.ShowFrame();
    }
    return writer.Finish(compress);
}

QByteArray BusyMovie(QSize stage, double fps, int frames, int shapes) {
    swf::Writer writer(8, stage, fps);
    writer.SetBackground(QColor(20, 40, 90));
    const int side = stage.height() / 12;
    for (int i = 0; i < shapes; ++i) {
        writer.AddRectangle(100 + i, QRect(0, 0, side, side),
                            QColor::fromHsv((i * 37) % 360, 200, 230), 1 + i);
    }
    const int tickerDepth = shapes + 1;
    writer.AddTextField(10, QRect(0, stage.height() - side, 3 * stage.width(), side), "ticker",
                        "Dravonelle - het nieuws van vandaag - de markt is open tot vijf uur - "
                        "morgen zon en twintig graden - ",
                        Qt::white, side * 2 / 3, tickerDepth);
    const int w = stage.width() - side, h = stage.height() - 2 * side;
    for (int frame = 0; frame < frames; ++frame) {
        for (int i = 0; i < shapes; ++i) {
            // Each bounces along its own line at its own speed.
            const int x = (i * 131 + frame * (3 + i % 7)) % (2 * w);
            const int y = (i * 71 + frame * (2 + i % 5)) % (2 * h);
            writer.Move(1 + i, QPoint(x < w ? x : 2 * w - x, y < h ? y : 2 * h - y));
        }
        writer.Move(tickerDepth, QPoint(-(frame * 8) % stage.width(), 0));
        writer.ShowFrame();
    }
    return writer.Finish(true);
}

platform::Platform RealPlatform(const QString& driveFolder, const platform::Endpoints& endpoints,
                                quint16 pushPort) {
    platform::Platform p;
    p.settings = std::make_unique<platform::QtSettingsStore>(driveFolder + "/../config");
    p.endpoints = endpoints;
    p.files = std::make_unique<platform::DriveFileSystem>(driveFolder);
    p.flash1 = std::make_unique<platform::StandInFlashPlayer>();
    p.flash2 = std::make_unique<platform::StandInFlashPlayer>();
    p.media = std::make_unique<platform::StandInMediaPlayer>();  // no sound in a benchmark
    p.inet = std::make_unique<platform::CurlInet>();
    p.sockets = std::make_unique<platform::QtWskServer>();
    p.pictures = std::make_unique<platform::QtPictureLoader>();
    p.fileDialog = std::make_unique<platform::QtFileDialog>();
    p.shell = std::make_unique<platform::QtShell>();
    p.pointer = std::make_unique<platform::QtPointer>();
    p.clock = std::make_unique<platform::QtClock>();
    p.random = std::make_unique<platform::LcgRandom>();
    p.powerOff = std::make_unique<NoPowerOff>();
    p.dialUp = std::make_unique<NoDialUp>();
    p.pushPort = pushPort;
    p.programFolder = driveFolder;
    return p;
}

bool WaitFor(const std::function<bool()>& done, double seconds, int everyMs) {
    const double end = Now() + seconds;
    while (!done()) {
        if (Now() > end) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, everyMs);
        QThread::msleep(static_cast<unsigned long>(everyMs));
    }
    return true;
}

bool PortAnswers(quint16 port, int ms) {
    const double end = Now() + ms / 1000.0;
    QTcpSocket socket;
    do {
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(100)) {
            return true;
        }
        socket.abort();
        QThread::msleep(50);
    } while (Now() < end);
    return false;
}

PerfRecorder::PerfRecorder(QString folder) : data_(folder + "/perf.data") {}

PerfRecorder::~PerfRecorder() {
    Report();
}

void PerfRecorder::Start(const QList<int>& pids) {
    QStringList list;
    for (int pid : pids) {
        list << QString::number(pid);
    }
    record_ = std::make_unique<QProcess>();
    record_->setStandardOutputFile(QProcess::nullDevice());
    record_->setStandardErrorFile(QProcess::nullDevice());
    record_->start("perf", {"record", "-F", "499", "-o", data_, "-p", list.join(',')});
    record_->waitForStarted(10000);
}

QString PerfRecorder::Report() {
    if (!record_) {
        return {};
    }
    ::kill(static_cast<pid_t>(record_->processId()), SIGINT);
    if (!record_->waitForFinished(60000)) {
        record_->kill();
        record_->waitForFinished();
    }
    record_.reset();
    QStringList lines;
    for (const char* sort : {"comm", "comm,dso,sym"}) {
        QProcess report;
        report.start("perf",
                     {"report", "-i", data_, "--stdio", "--sort", sort, "--percent-limit", "1"});
        report.waitForFinished(120000);
        for (const QString& line :
             QString::fromLocal8Bit(report.readAllStandardOutput()).split('\n')) {
            if (!line.startsWith('#') && !line.trimmed().isEmpty()) {
                lines << line;
            }
        }
        lines << QString();
    }
    return lines.join('\n').trimmed();
}

}  // namespace bench
