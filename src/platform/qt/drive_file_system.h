#pragma once

#include "platform/file_system.h"

#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <functional>

namespace platform {

// Free space that every write leaves on the drive's file system; a write that would eat
// into it fails as "disk full".
struct DiskReserve {
    qint64 keepFreeBytes = 0;
    // The bytes free for the file system of a host path; the system's figure by default.
    std::function<qint64(const QString& hostPath)> freeBytes;
};

// Writes `bytes` as a new version of the host file `path`, put on the disk before it
// replaces the old one; in the calling thread (for tools).
Result<> WriteFileDurably(const QString& path, const QByteArray& bytes);
// Appends `bytes` to the host file `path` and puts them on the disk (with the folder's new
// entry when the file is new); on a failure the file is cut back to what it was. Gives
// whether it made the file. In the calling thread.
Result<bool> AppendFileDurably(const QString& path, const QByteArray& bytes);
// The bytes an ordinary user may still write on the file system that holds `path`; -1
// where it cannot be told. Asked of the file system itself: no table of mounts is read,
// which a chroot or a container does not show whole.
qint64 FreeBytesOn(const QString& path);
// The first item of comma-delimited text: up to the first comma or the end of the first
// line, surrounding blanks or quotes removed.
QString FirstItem(QByteArray text);

// Drive "c:" as a folder of the host. Each component of a path is matched against what
// exists without regard to letter case (the exact spelling wins); a new component keeps
// the spelling given.
class DriveFileSystem : public FileSystem {
  public:
    explicit DriveFileSystem(QString driveFolder, DiskReserve reserve = {});
    ~DriveFileSystem() override;  // waits for a copy under way to stop, and for commits
    const QString& DriveFolder() const { return drive_; }
    // $XDG_DATA_HOME/dravonelle/drive_c, or ~/.local/share/dravonelle/drive_c.
    static QString DefaultDriveFolder();

    std::optional<QString> HostPath(const QString& path) const override;
    bool FileExists(const QString& path) const override;
    bool FolderExists(const QString& path) const override;
    Result<> DeleteFile(const QString& path) override;
    void CopyFile(const QString& source, const QString& target, CopyProgress progress,
                  CopyDone done, ContentCheck check = {}) override;
    void CheckFile(const QString& path, ContentCheck check, CheckDone done) override;
    Result<> CreateFolder(const QString& path) override;
    QStringList ListPlainFiles(const QString& folder) const override;
    QStringList ListHiddenFiles(const QString& folder) const override;
    Result<> RemoveFolder(const QString& path) override;
    std::optional<QString> ReadFirstItem(const QString& path) const override;
    Result<std::unique_ptr<DurableFile>> CreateDurable(const QString& target) override;
    void MoveFiles(const Moves& moves, MovesDone done) override;
    void AfterCommits(std::function<void()> done) override;
    void MeasureFolder(const QString& folder, FiguresDone done) override;

    // Sees each step that puts something on the disk ("sync" of a file, "rename" to a
    // target, "sync folder"), on the thread that takes it; for tests.
    using Trace = std::function<void(const char* step, const QString& hostPath)>;
    void SetTrace(Trace trace) { trace_ = std::move(trace); }

  private:
    friend class DriveDurableFile;
    std::optional<QString> Resolve(const QString& drivePath) const;
    // Runs `work` on the commit worker, after what was given to it before. Renames that
    // follow one another (`batched` work, which tells through AfterFolderSync) put their
    // folders on the disk once, when the worker has nothing more of them to do.
    void OnCommitWorker(std::function<void()> work, bool batched = false);
    // On the commit worker: `report` runs on the event loop's thread once `folder` (if
    // any) is on the disk.
    void AfterFolderSync(const QString& folder, std::function<void()> report);
    void SyncBatch();
    // Runs `call` on the event loop's thread.
    template <typename Call>
    void Report(Call call) {
        QMetaObject::invokeMethod(&reports_, std::move(call), Qt::QueuedConnection);
    }

    QString drive_;
    QString driveReal_;  // drive_ with its symbolic links resolved
    DiskReserve reserve_;
    QObject reports_;  // what the copies report goes through it, and with it
    QThreadPool copies_;
    QThreadPool commits_;
    QThreadPool counts_;  // one folder count at a time, beside copies and commits
    std::atomic<bool> stopping_{false};
    std::atomic<int> queued_{0};  // work given to the commit worker and not yet begun
    struct {
        QStringList folders;
        std::vector<std::function<void()>> reports;
    } batch_;  // the commit worker's only
    Trace trace_;
};

}  // namespace platform
