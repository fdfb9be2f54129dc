#pragma once

#include "platform/desktop.h"

#include <QLocale>
#include <QObject>
#include <QThreadPool>
#include <QTime>

class QWidget;

namespace platform {

// Reads pictures on a thread of its own, one at a time; it waits for the one under way
// when it goes.
class QtPictureLoader : public PictureLoader {
  public:
    QtPictureLoader();
    ~QtPictureLoader() override;
    void LoadPicture(const QString& hostPath, QSize fillAtLeast, Done done) override;

  private:
    QThreadPool pool_;
    QObject reports_;  // what the thread reports is delivered on the window's thread
};

// Qt's open-file dialog, any file type, several files at once.
class QtFileDialog : public FileDialog {
  public:
    void ShowOpen() override;
    // Turns a list of chosen files into the dialog's two results.
    static void FormatResults(const QStringList& files, QString* fileName, QString* fileTitle);
};

class QtShell : public Shell {
  public:
    bool Open(const QString& address, int showCommand) override;
};

class QtPointer : public Pointer {
  public:
    void SetCursorPos(int x, int y) override;
};

// The local time of day in the system locale's long time format, without a time zone.
class QtClock : public Clock {
  public:
    QString TimeText() override;
    static QString FormatTime(const QTime& time);
};

// The classic 24-bit linear congruential generator, unseeded: the same sequence in
// every run.
class LcgRandom : public Random {
  public:
    double Next() override;

  private:
    quint32 state_ = 0x50000;
};

}  // namespace platform
