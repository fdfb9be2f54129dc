#pragma once

#include "platform/platform.h"

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include <sys/resource.h>
#include <sys/time.h>

// Figures of a benchmark run.
namespace bench {

struct Usage {
    double wall = 0;  // seconds
    double cpu = 0;   // user + system seconds
};

double Now();
double CpuSeconds(int who);  // RUSAGE_SELF or RUSAGE_CHILDREN
long PeakRssKiB();           // of this process
long CurrentRssKiB();

// A process and its descendants; the proportional set size of processes, in MiB; their
// user and system CPU seconds.
QList<int> ProcessTree(int root);
double PssMiB(const QList<int>& pids);
// The anonymous memory of `pids` (heaps, stacks, the engine's own allocations): unlike
// PSS or private pages, it does not change when another program maps the same libraries
// or stops mapping them, so a leak shows in it whatever else runs.
double AnonMiB(const QList<int>& pids);
double TreeCpuSeconds(const QList<int>& pids);
// The CPU seconds of one process's threads so far, summed by thread name.
QMap<QString, double> ThreadCpuSeconds(int pid);
// Minor page faults the processes have taken so far.
double TreeMinorFaults(const QList<int>& pids);

// A whole number given as `name N` on the command line, else `fallback`.
qint64 IntArg(const QStringList& args, const QString& name, qint64 fallback);
// The middle value (the upper of the two middle ones); 0 for none.
double Median(QList<double> values);

// Looks at `done` every `everyMs`, handling this process's events between looks, for at
// most `seconds`; whether it came true.
bool WaitFor(const std::function<bool()>& done, double seconds, int everyMs);

// Whether a server on loopback accepts connections on `port` within `ms`.
bool PortAnswers(quint16 port, int ms);

// Samples processes with perf from Start until Report, which prints where their time
// went by thread, library and symbol (entries under 1 % left out).
class PerfRecorder {
  public:
    explicit PerfRecorder(QString folder);
    ~PerfRecorder();
    void Start(const QList<int>& pids);
    QString Report();

  private:
    QString data_;
    std::unique_ptr<QProcess> record_;
};

// Before the application object: the offscreen platform unless another is set, and the
// program's own log off.
void QuietOffscreen();

// Before the application object of a benchmark that runs the web engine: the offscreen
// platform unless another is set, the program's log off, and the program's allocator and
// engine settings.
void PrepareEngine();

// A movie of `frames` frames at `fps` per second: an orange bar that moves across a blue
// 800 x 600 stage.
QByteArray BarMovie(int frames, double fps, bool compress = false);

// A busy channel page of `frames` frames at `fps` per second on a `stage`: `shapes`
// rectangles that all move every frame and a line of text that runs across the bottom.
QByteArray BusyMovie(QSize stage, double fps, int frames, int shapes);

// The program's real components on a drive folder, with stand-in players.
platform::Platform RealPlatform(const QString& driveFolder, const platform::Endpoints& endpoints,
                                quint16 pushPort);

}  // namespace bench
