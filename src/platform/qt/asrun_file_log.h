#pragma once

#include "platform/asrun_log.h"

#include <QHash>
#include <QMutex>
#include <QThread>

#include <memory>

namespace platform {

class AsRunWorker;

// The as-run log in a folder of day files ("YYYY-MM-DD.jsonl"). On a thread of the log's
// own, lines are kept within a fraction of a second in memory that outlives the program
// (tmpfs), and appended to the day file and synced once a minute, so that a display that
// shows an item every few seconds syncs once a minute for it; files are hashed on another
// thread. While the disk's free space is below `reserveBytes` the lines wait, in order,
// and Trouble() says so. At its start the log first writes the lines a crash left in
// memory, then closes what was left open ("cut by restart", ending when the last run was
// last known to be alive: within a second after a crash, within a minute and the kernel's
// writeback after a power cut), drops a line that was cut short, and removes days older
// than `keepDays`.
class AsRunFileLog : public AsRunLog {
  public:
    struct Options {
        QString folder;
        int keepDays = 400;
        qint64 reserveBytes = 0;
        // The bytes free where the folder lies; the system's figure by default.
        std::function<qint64(const QString& folder)> freeBytes;
        // Maps a drive path to the file to hash.
        std::function<std::optional<QString>(const QString& drivePath)> hostPath;
    };
    explicit AsRunFileLog(Options options);
    ~AsRunFileLog() override;

    quint64 Begin(const Start& start) override;
    void Finish(quint64 item, const End& end) override;
    void ReadDay(QDate day, std::function<void(std::optional<QByteArray>)> done) override;
    QString Trouble() const override;
    bool Flush(int ms) override;
    void NoteOrigin(const QString& name, const Origin& origin) override;
    void StoreOrigins() override;
    Origin OriginOf(const QString& name) const override;

  private:
    Options options_;
    QThread thread_;
    AsRunWorker* worker_;
    QString run_;  // names this run's items
    quint64 next_ = 0;
    mutable QMutex mutex_;
    QString trouble_;                 // under mutex_, written by the worker
    QHash<QString, Origin> origins_;  // under mutex_
    bool originsChanged_ = false;     // since they were last stored; under mutex_
};

}  // namespace platform
