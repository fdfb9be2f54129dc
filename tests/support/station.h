#pragma once

#include <QByteArray>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A loopback TCP port that was free a moment ago.
quint16 FreePort();

// The program itself, run as a station runs it: its own settings file and drive in a
// temporary folder, started as a separate process.
class Station {
  public:
    Station();
    ~Station();

    // The settings file's keys, "group/key" = value, written before the start; the push
    // port is a free one unless set.
    QMap<QString, QString> settings;
    // Points the site, the weather and the radio at a loopback port where nothing answers:
    // the first cycle ends at once and the main movie that is on the drive plays.
    void NoSite();
    // Writes a file under drive c: ("fileftp/dravonelle.swf").
    void WriteDriveFile(const QString& relative, const QByteArray& bytes) const;
    QString DriveFolder() const { return temp_.path() + "/data/dravonelle/drive_c"; }
    QString Folder() const { return temp_.path(); }

    // Starts `program` (the built program unless given) with `arguments`, in an
    // environment holding only the basics, the folders above and `environment`.
    void Start(const QMap<QString, QString>& environment, const QString& program = QString(),
               const QStringList& arguments = {});
    bool Running() const { return process_ && process_->state() != QProcess::NotRunning; }
    // Closes it as the service manager does (SIGTERM), then kills it after 20 s.
    void Stop();
    qint64 Pid() const { return process_ ? process_->processId() : 0; }
    // "running", or how it ended.
    QString State() const;
    // What the latest start wrote to standard error so far.
    QString Log();

  private:
    QTemporaryDir temp_;
    std::unique_ptr<QProcess> process_;
    QByteArray log_;
};

// An X server of its own (Xvfb, with RandR) for tests that look at the whole screen.
class XServer {
  public:
    explicit XServer(QSize size);
    ~XServer();
    bool Started() const { return !display_.isEmpty(); }
    QString Display() const { return display_; }
    // Starts a window manager on it ("matchbox-window-manager", "openbox"); false when it
    // did not start.
    bool StartWindowManager(const QString& name);
    // Sets the screen's size through RandR, as a new monitor or xrandr does.
    bool SetSize(QSize size);
    // The root window as it is on the screen, or a null image.
    QImage Grab() const;
    // What `xwininfo -root -tree` says, for a failure's message.
    QString WindowTree() const;

  private:
    QString Run(const QString& program, const QStringList& arguments, bool* ok = nullptr) const;
    QProcess server_;
    QProcess windowManager_;
    QString display_;
    QSize size_;
};
