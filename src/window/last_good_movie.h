#pragma once

#include "platform/file_system.h"
#include "window/vb_timer.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The channel never goes black for a main movie that cannot be played. The program keeps a
// copy of the last main movie that played well, outside the content folder, named by its
// sha256; when the main movie cannot be played, that copy plays instead. With no copy
// either, the connecting screen stays up and update cycles run by themselves, further and
// further apart, until a main movie that can be played arrives.
class LastGoodMovie {
  public:
    // What it asks of the window.
    struct Window {
        // Plays `path` in the main player from its first frame (the stored copy, or a main
        // movie that was tried again).
        std::function<void(const QString& path)> play;
        // Puts the connecting screen up, to stay until a main movie can be played.
        std::function<void()> showConnecting;
        std::function<void()> runCycle;  // an update cycle, unless one runs
        std::function<void(const QString& text)> statusLine;
    };
    // `mainMovie` is the content folder's main movie and `connecting` the connecting screen's
    // movie; `folder` is where the copy is kept (a drive path). Without `checkFiles` a movie
    // falls back only when the player says it cannot be played.
    LastGoodMovie(platform::FileSystem& files, QString mainMovie, QString connecting,
                  QString folder, bool checkFiles, Window window);

    // A main movie that has run this long from its first frame without failing played well.
    VbTimer PlayedWellTimer{30000, false};
    // Runs an update cycle while there is nothing to play; each wait twice the last, from
    // firstRetryMs up to lastRetryMs.
    int firstRetryMs = 20000;
    int lastRetryMs = 5 * 60 * 1000;
    VbTimer RetryTimer{firstRetryMs, false};

    // Finds the kept copy, and checks it against its name's sha256 off the window's thread.
    void Start();
    void Stop();

    // What the main player loads when it is to load `path`: `path` itself, the kept copy
    // when `path` is a main movie known or seen (from its start) not to play, or an empty
    // text when there is nothing to play.
    QString Choose(const QString& path);
    // The main player was given `path`.
    void Loaded(const QString& path);
    // The main player's movie showed its first frame; or cannot be played, and why.
    void Started();
    void Failed(const QString& reason);
    // An update cycle has ended: a main movie that could not be played is tried again if
    // its file has changed since.
    void CycleEnded();

    // The path of the kept copy; empty when there is none.
    QString Copy() const { return copy_ ? copy_->path : QString(); }
    bool IsCopy(const QString& path) const { return copy_ && path == copy_->path; }
    // What the status says of it: nothing to play is a fault; a copy standing in is a
    // warning.
    QStringList Faults() const;
    QStringList Warnings() const;

  private:
    struct Kept {
        QString path;
        QString sha256;
    };
    // A main movie that could not be played: which file, as it was on the disk, and why.
    struct Failure {
        QString path;
        QString identity;
        QString reason;
        QDateTime since;
    };
    void Fall(const QString& path, const QString& reason);
    void NothingToPlay();
    void FallToConnecting();  // nothing to play, and the connecting screen up
    void PlayedWell();
    void Keep(const QString& path, const QString& sha256);
    void RetryTimer_Timer();
    bool IsMainMovie(const QString& path) const;

    platform::FileSystem& files_;
    const QString mainMovie_;
    const QString connecting_;
    const QString folder_;
    const bool checkFiles_;
    Window window_;

    std::optional<Kept> copy_;
    QString current_;        // what the main player was last given
    quint64 loads_ = 0;      // counts what it was given, so that late checks are dropped
    QString currentSha256_;  // of the main movie loaded, once its check has read it
    std::optional<Failure> failure_;
    bool nothingToPlay_ = false;
    bool copying_ = false;
};
