// What a station would run instead, side by side: one busy channel page played full screen
// on one Xvfb, first by the program as its main movie, then by Chromium in kiosk mode with
// the same engine build on a loopback page, then by Qt WebEngine alone on that page, through
// its widget and through a Qt Quick window (engine_host). For each it prints the CPU share
// of the whole process tree (per cent of one core), its PSS, and the distinct pictures per second
// that reach the screen, then where the CPU went, per process.
//
//     engine_vs_browser [--seconds N] [--grab-seconds G] [--settle S] [--width W] [--height H]
//                       [--shapes K] [--only program|chromium|qt-widget|qt-quick] [--perf]
//                       [--program-env NAME=VALUE]...
//
// As root every engine runs without its sandbox; as an ordinary user, with it.
// --perf also samples the process tree with perf for the measured seconds and prints the
// libraries its time went to.
#include "bench_support.h"
#include "support/station.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <functional>

#include <unistd.h>

namespace {

struct Options {
    int seconds = 30;
    int grabSeconds = 10;
    int settle = 10;
    QSize size{1920, 1080};
    int shapes = 60;
    QString only;
    bool perf = false;
    QMap<QString, QString> programEnvironment;  // --program-env NAME=VALUE, for experiments
};

struct Figures {
    double cpuPercent = 0;
    double pssMiB = 0;
    double picturesPerSecond = 0;
    QMap<QString, double> cpuByProcess;     // seconds, by kind of process
    QMap<QString, double> faultsByProcess;  // minor page faults a second, by kind
    QMap<QString, double> pssByProcess;     // MiB at the end, by kind
    QString perfReport;
};

void Wait(double seconds) {
    const double end = bench::Now() + seconds;
    while (bench::Now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
}

bool WaitFor(const std::function<bool()>& done, double seconds) {
    return bench::WaitFor(done, seconds, 250);
}

// The process's name and its kind: "chromium (renderer)", "QtWebEngineProc (zygote)".
QString Kind(int pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!comm.open(QIODevice::ReadOnly) || !cmdline.open(QIODevice::ReadOnly)) {
        return QStringLiteral("?");
    }
    const QString name = QString::fromLocal8Bit(comm.readAll().trimmed());
    // Chromium rewrites its command line into one string; Qt's engine keeps the arguments.
    const QRegularExpression type(QStringLiteral("--type=([^\\s]+)"));
    const auto match = type.match(QString::fromLocal8Bit(cmdline.readAll().replace('\0', ' ')));
    return match.hasMatch() ? name + " (" + match.captured(1) + ')' : name;
}

struct Counts {
    double cpu = 0;
    double faults = 0;
};

QMap<int, Counts> CountsByPid(const QList<int>& pids) {
    QMap<int, Counts> counts;
    for (int pid : pids) {
        counts[pid] = {bench::TreeCpuSeconds({pid}), bench::TreeMinorFaults({pid})};
    }
    return counts;
}

// Distinct pictures per second on the screen, counted from the hashes of a 50 per second
// grab.
double PicturesPerSecond(const QString& display, QSize size, int seconds) {
    QProcess grab;
    grab.start("ffmpeg",
               {"-loglevel", "error", "-f", "x11grab", "-draw_mouse", "0", "-framerate", "50",
                "-video_size", QStringLiteral("%1x%2").arg(size.width()).arg(size.height()), "-i",
                display, "-t", QString::number(seconds), "-f", "framemd5", "-"});
    if (!grab.waitForFinished((seconds + 30) * 1000)) {
        grab.kill();
        grab.waitForFinished();
        return -1;
    }
    int changes = 0;
    QByteArray last;
    for (const QByteArray& line : grab.readAllStandardOutput().split('\n')) {
        if (line.startsWith('#') || line.trimmed().isEmpty()) {
            continue;
        }
        const QByteArray hash = line.split(',').last().trimmed();
        if (!last.isEmpty() && hash != last) {
            ++changes;
        }
        last = hash;
    }
    return changes / static_cast<double>(seconds);
}

// Measures the tree under `root` once the picture is up: CPU and PSS over `seconds`, then the
// pictures that reach the screen.
Figures Measure(int root, const XServer& x, const Options& options, const QString& folder) {
    Figures f;
    Wait(options.settle);
    QList<int> pids = bench::ProcessTree(root);
    const QMap<int, Counts> before = CountsByPid(pids);
    const double start = bench::Now();
    double pss = 0;
    int samples = 0;
    if (options.perf) {
        bench::PerfRecorder perf(folder);
        perf.Start(pids);
        Wait(options.seconds);
        f.perfReport = perf.Report();
        pss = bench::PssMiB(bench::ProcessTree(root));
        samples = 1;
    } else {
        while (bench::Now() - start < options.seconds) {
            Wait(1);
            pss += bench::PssMiB(bench::ProcessTree(root));
            ++samples;
        }
    }
    const double elapsed = bench::Now() - start;
    pids = bench::ProcessTree(root);
    const QMap<int, Counts> after = CountsByPid(pids);
    double total = 0;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const Counts was = before.value(it.key());
        const double used = it.value().cpu - was.cpu;
        f.cpuByProcess[Kind(it.key())] += used;
        f.faultsByProcess[Kind(it.key())] += (it.value().faults - was.faults) / elapsed;
        f.pssByProcess[Kind(it.key())] += bench::PssMiB({it.key()});
        total += used;
    }
    f.cpuPercent = 100 * total / elapsed;
    f.pssMiB = samples > 0 ? pss / samples : 0;
    f.picturesPerSecond = PicturesPerSecond(x.Display(), options.size, options.grabSeconds);
    return f;
}

// Something other than black in the middle of the screen: the movie is up.
bool PictureUp(const XServer& x) {
    const QImage image = x.Grab();
    return !image.isNull() && image.pixel(image.width() / 2, image.height() / 3) != qRgb(0, 0, 0);
}

bool RunProgram(const XServer& x, const QByteArray& movie, const Options& options, Figures* f) {
    Station station;
    station.WriteDriveFile("fileftp/dravonelle.swf", movie);
    station.NoSite();
    QMap<QString, QString> env = {{"DISPLAY", x.Display()}, {"QT_QPA_PLATFORM", "xcb"}};
    env.insert(options.programEnvironment);
    station.Start(env);
    if (!WaitFor([&] { return !station.Running() || PictureUp(x); }, 90) || !station.Running()) {
        std::fprintf(stderr, "the program did not show the movie (%s):\n%s\n",
                     qPrintable(station.State()), qPrintable(station.Log().right(2000)));
        return false;
    }
    *f = Measure(static_cast<int>(station.Pid()), x, options, station.Folder());
    station.Stop();
    return true;
}

// The same engine build and the same settings on a loopback page.
QByteArray Page() {
    return R"(<!DOCTYPE html>
<html><head><meta charset="utf-8">
<style>html, body { margin: 0; width: 100%; height: 100%; overflow: hidden; background: #000; }
ruffle-player { position: absolute; left: 0; top: 0; width: 100%; height: 100%; }</style>
<script>
window.RufflePlayer = { config: { autoplay: "on", splashScreen: false, unmuteOverlay: "hidden",
  contextMenu: "off", letterbox: "off", scale: "showAll", forceScale: true,
  warnOnUnsupportedContent: false, logLevel: "error", backgroundColor: "#000000" } };
</script>
<script src="ruffle.js"></script>
</head><body><script>
const player = window.RufflePlayer.newest().createPlayer();
document.body.appendChild(player);
player.load("movie.swf");
</script></body></html>
)";
}

// A browser on the loopback page: its program and its arguments for the page's address.
struct Browser {
    QString name;
    QString program;
    std::function<QStringList(const QString& folder, const QString& url)> arguments;
};

QList<Browser> Browsers(const Options& options) {
    const auto host = [](const QString& path) {
        return [path](const QString&, const QString& url) { return QStringList{path, url}; };
    };
    return {
        {"chromium", "chromium",
         [options](const QString& folder, const QString& url) {
             QStringList arguments{"--kiosk",
                                   "--no-first-run",
                                   "--no-default-browser-check",
                                   "--user-data-dir=" + folder + "/profile",
                                   QStringLiteral("--window-size=%1,%2")
                                       .arg(options.size.width())
                                       .arg(options.size.height()),
                                   "--window-position=0,0",
                                   "--autoplay-policy=no-user-gesture-required",
                                   url};
             // As root the browser, like the program, cannot sandbox its engine; as an
             // ordinary user both keep their sandbox.
             if (::geteuid() == 0) {
                 arguments.prepend("--no-sandbox");
             }
             return arguments;
         }},
        // Qt WebEngine with the program's settings, without the program: its widget path
        // and its Qt Quick window path.
        {"qt-widget", ENGINE_HOST, host("--widget")},
        {"qt-quick", ENGINE_HOST, host("--quick")},
    };
}

bool RunBrowser(const XServer& x, const QByteArray& movie, const Options& options,
                const Browser& which, Figures* f) {
    QTemporaryDir folder;
    const QString site = folder.path() + "/site";
    QDir().mkpath(site);
    for (const QFileInfo& file : QDir(BENCH_ENGINE_DIR).entryInfoList(QDir::Files)) {
        QFile::copy(file.filePath(), site + '/' + file.fileName());
    }
    QFile::remove(site + "/index.html");
    for (const auto& [name, bytes] :
         {std::pair<QString, QByteArray>{"index.html", Page()}, {"movie.swf", movie}}) {
        QFile out(site + '/' + name);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(out.fileName()));
            return false;
        }
    }
    const quint16 port = FreePort();
    QProcess server;
    server.setStandardErrorFile(QProcess::nullDevice());
    server.setStandardOutputFile(QProcess::nullDevice());
    server.start("python3", {"-m", "http.server", "--bind", "127.0.0.1", "--directory", site,
                             QString::number(port)});
    if (!bench::PortAnswers(port, 10000)) {
        std::fputs("the page's server did not start\n", stderr);
        return false;
    }
    QProcess browser;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", x.Display());
    env.insert("QT_QPA_PLATFORM", "xcb");
    browser.setProcessEnvironment(env);
    const QString log = folder.path() + "/browser.log";
    browser.setStandardErrorFile(log);
    browser.setStandardOutputFile(QProcess::nullDevice());
    browser.start(
        which.program,
        which.arguments(folder.path(), QStringLiteral("http://127.0.0.1:%1/index.html").arg(port)));
    bool shown =
        browser.waitForStarted(20000) &&
        WaitFor([&] { return browser.state() != QProcess::Running || PictureUp(x); }, 90) &&
        browser.state() == QProcess::Running;
    if (shown) {
        *f = Measure(static_cast<int>(browser.processId()), x, options, folder.path());
    } else {
        QFile text(log);
        text.open(QIODevice::ReadOnly);
        std::fprintf(stderr, "%s did not show the movie:\n%s\n", qPrintable(which.name),
                     text.readAll().right(2000).constData());
    }
    for (QProcess* p : {&browser, &server}) {
        p->terminate();
        if (!p->waitForFinished(10000)) {
            p->kill();
            p->waitForFinished();
        }
    }
    return shown;
}

void Print(const char* who, const Figures& f) {
    std::printf("%-10s CPU %6.1f %% of a core   PSS %7.1f MiB   %5.1f pictures/s\n", who,
                f.cpuPercent, f.pssMiB, f.picturesPerSecond);
    for (auto it = f.cpuByProcess.cbegin(); it != f.cpuByProcess.cend(); ++it) {
        if (it.value() > 0.005) {
            std::printf("             %-40s %7.2f s %9.0f page faults/s %7.1f MiB\n",
                        qPrintable(it.key()), it.value(), f.faultsByProcess.value(it.key()),
                        f.pssByProcess.value(it.key()));
        }
    }
    if (!f.perfReport.isEmpty()) {
        std::printf("%s\n", qPrintable(f.perfReport));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    Options options;
    options.seconds = static_cast<int>(bench::IntArg(args, "--seconds", options.seconds));
    options.grabSeconds =
        static_cast<int>(bench::IntArg(args, "--grab-seconds", options.grabSeconds));
    options.settle = static_cast<int>(bench::IntArg(args, "--settle", options.settle));
    options.size = QSize(static_cast<int>(bench::IntArg(args, "--width", 1920)),
                         static_cast<int>(bench::IntArg(args, "--height", 1080)));
    options.shapes = static_cast<int>(bench::IntArg(args, "--shapes", options.shapes));
    options.perf = args.contains("--perf");
    for (qsizetype i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--program-env" && args[i + 1].contains('=')) {
            options.programEnvironment[args[i + 1].section('=', 0, 0)] =
                args[i + 1].section('=', 1);
        }
    }
    const qsizetype only = args.indexOf("--only");
    if (only >= 0 && only + 1 < args.size()) {
        options.only = args[only + 1];
    }

    XServer x(options.size);
    if (!x.Started()) {
        std::fputs("Xvfb did not start\n", stderr);
        return 1;
    }
    const QByteArray movie = bench::BusyMovie(options.size, 25, 250, options.shapes);
    std::printf(
        "%dx%d, 25 fps, %d moving shapes and a ticker; %d s measured after %d s, "
        "%d s grabbed at 50/s\n",
        options.size.width(), options.size.height(), options.shapes, options.seconds,
        options.settle, options.grabSeconds);
    std::fflush(stdout);
    Figures program;
    QMap<QString, Figures> browsers;
    bool ok = true;
    if (options.only.isEmpty() || options.only == "program") {
        ok = RunProgram(x, movie, options, &program) && ok;
        Print("program", program);
        std::fflush(stdout);
    }
    for (const Browser& browser : Browsers(options)) {
        if (options.only.isEmpty() || options.only == browser.name) {
            Figures f;
            ok = RunBrowser(x, movie, options, browser, &f) && ok;
            Print(qPrintable(browser.name), f);
            std::fflush(stdout);
            browsers[browser.name] = f;
        }
    }
    const Figures chromium = browsers.value("chromium");
    if (ok && program.cpuPercent > 0 && chromium.cpuPercent > 0 && chromium.pssMiB > 0) {
        std::printf(
            "program / chromium: CPU %.2fx (goal at most 1.0x), PSS %.2fx (goal at most "
            "0.6x), pictures %.2fx (goal 1.0x)\n",
            program.cpuPercent / chromium.cpuPercent, program.pssMiB / chromium.pssMiB,
            chromium.picturesPerSecond > 0 ? program.picturesPerSecond / chromium.picturesPerSecond
                                           : 0);
    }
    return ok ? 0 : 1;
}
