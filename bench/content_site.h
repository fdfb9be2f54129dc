#pragma once

#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class Form1;

// A loopback web server with content laid out as the program's site has it.
namespace bench {

// A file of about `size` bytes that is what its name says, as the program checks what it
// fetches: a JPEG picture for ".jpg" (of busy pixels, so that it is as large as a photo of
// that size), a Flash movie for ".swf", bytes otherwise. Returns its size.
qint64 WriteFile(const QString& path, qint64 size);

// nginx where it is installed (Debian's nginx or nginx-light), else the tests' Python
// content site, serving Www() on a free loopback port. The Python site is also the one
// that takes faults: lines "path action" in Faults() (see tools/content_site.py), and
// "path status bytes" for each answer in Answers().
struct Site {
    QTemporaryDir dir;
    QProcess server;
    quint16 port = 0;
    QString Www() const { return dir.path() + "/www"; }
    QString Faults() const { return dir.path() + "/faults"; }
    QString Answers() const { return dir.path() + "/answers.log"; }
    bool Start(bool withFaults = false);
    ~Site();

  private:
    bool StartNginx();
};

// Lays out the site: fixed files, the listing and `sizes` under /test/fotos/. Returns
// the paths of every file a cycle fetches.
QStringList MakeSite(Site& site, const QList<qint64>& sizes);

// `files` sizes adding up to `total`: many small pictures, some large films; the same
// every run.
QList<qint64> MixedSizes(int files, qint64 total);

// curl fetching every path from the loopback server on `port` into a file of its own;
// with `thenSync`, followed by sync(1) of those files, so that it has put the same bytes
// on the disk as a cycle.
struct Usage;
Usage RunCurl(quint16 port, const QStringList& paths, bool thenSync);

// A window on the program's real components with the drive at `driveFolder`, loaded and
// pointed at the site, ready for Form_Activate to run the start-up cycle.
std::unique_ptr<Form1> CycleWindow(const Site& site, const QString& driveFolder);

}  // namespace bench
