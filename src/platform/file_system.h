#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace platform {

// The reason a write gives when the disk (or the user's quota) is full.
inline const QString kDiskFull = QStringLiteral("disk full");
inline Failure DiskFull() {
    return Fail(kDiskFull, FailureKind::kDiskFull);
}

// Where a file is written before it replaces `target` (a drive path): beside it, under a
// hidden name, so that the rename stays on one file system. Each new version has a
// `serial` of its own, so that two versions of one name under way never share a file.
inline QString TemporaryBeside(const QString& target, quint64 serial) {
    const qsizetype cut = std::max(target.lastIndexOf('\\'), target.lastIndexOf('/')) + 1;
    return target.left(cut) + '.' + target.mid(cut) + '.' + QString::number(serial) +
           QStringLiteral(".dravonelle-part");
}

// Whether a bare name is one of the temporaries that the program writes, now or in
// earlier versions (".name.dravonelle-copy").
inline bool IsTemporaryName(const QString& name) {
    return name.startsWith('.') && (name.endsWith(QLatin1String(".dravonelle-part")) ||
                                    name.endsWith(QLatin1String(".dravonelle-copy")));
}

// How a failed write of `path` is reported, of the same kind: "disk full: N bytes wanted
// for PATH" when the disk is full, "cannot write PATH: reason" otherwise.
inline Failure WriteFailure(const QString& path, const Failure& error, qint64 wanted) {
    if (error.kind == FailureKind::kDiskFull) {
        return Fail(kDiskFull + QStringLiteral(": %1 bytes wanted for ").arg(wanted) + path,
                    FailureKind::kDiskFull);
    }
    return Fail(QStringLiteral("cannot write ") + path + QStringLiteral(": ") + error.reason,
                error.kind);
}

// Whether a complete new version of a file, read from its host path, may replace its
// target: run off the window's thread, before anything is put on the disk. A failure
// (FailureKind::kRefused) keeps the target as it was. Empty: any content may.
using ContentCheck = std::function<Result<>(const QString& hostPath)>;

// Where bytes are written: a failure (kDiskFull when the disk is full) stays, and every
// later call fails with the same reason.
class FileWriter {
  public:
    virtual ~FileWriter() = default;
    virtual Result<> Write(const char* data, qint64 size) = 0;
    Result<> Write(const QByteArray& bytes) { return Write(bytes.constData(), bytes.size()); }
    // Whether `size` bytes still to come would fit, so that a transfer of a known length
    // is not started in vain.
    virtual Result<> Fits(qint64 size) {
        (void)size;
        return {};
    }
};

// A new version of a file, written beside its target and put in its place only when
// committed, so that a failure or a power cut at any moment leaves the target as it was.
// Commit puts the bytes on the disk, renames the file over the target and puts the rename
// on the disk: on the file system's commit worker, in the order commits are asked for,
// with `done` through the event loop. The target counts as replaced only when `done`
// says so. With a `check`, the complete file is first checked on that worker, and one that
// fails it is deleted instead. Discard (and destruction without Commit) deletes the file at
// once, without putting anything on the disk.
class DurableFile : public FileWriter {
  public:
    using CommitDone = std::function<void(const Result<>& committed)>;
    void Commit(CommitDone done) { CommitChecked({}, std::move(done)); }
    virtual void CommitChecked(ContentCheck check, CommitDone done) = 0;
    virtual void Discard() = 0;
};

// Whether `path` starts with a Windows drive ("c:").
bool HasDriveSpec(const QString& path);

// The file system as the program sees it: Windows paths on drive "c:" ("c:\fileftp\x.jpg"),
// with "\" and "/" as separators and names compared without regard to letter case.
// A path that would leave the drive is refused: the operation fails and changes nothing.
class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // The host path that a drive path names, or nullopt when it is refused. A host path
    // ("/..." with "/" or "\" separators) is accepted as it stands: the program uses
    // those only for its own folder and for files the operator picks.
    virtual std::optional<QString> HostPath(const QString& path) const = 0;
    // Whether `path` names a path on the drive that stays inside it.
    bool IsDrivePath(const QString& path) const;
    // The size and time of the file at `path`, to tell later whether it is still the same
    // file; empty when there is none.
    QString Identity(const QString& path) const;

    virtual bool FileExists(const QString& path) const = 0;  // an existing regular file
    virtual bool FolderExists(const QString& path) const = 0;
    virtual Result<> DeleteFile(const QString& path) = 0;
    using CopyProgress = std::function<void(int percent)>;
    using CopyDone = std::function<void(const Result<>& copied)>;
    // Copies `source` (a drive or host path) over `target` (a drive path) on a worker,
    // beside the target, put on the disk and then renamed over it, so that a failed copy
    // loses nothing. `progress` (whole percent, as it changes) and `done` arrive through
    // the event loop; copies run one after another. With a `check`, the complete copy is
    // checked before it is put on the disk, and one that fails it does not replace the
    // target.
    virtual void CopyFile(const QString& source, const QString& target, CopyProgress progress,
                          CopyDone done, ContentCheck check = {}) = 0;
    // Runs `check` on the file at `path` (a drive path) on a worker, after the commits asked
    // for before; `done` through the event loop. A file that is not there fails.
    using CheckDone = std::function<void(const Result<>& checked)>;
    virtual void CheckFile(const QString& path, ContentCheck check, CheckDone done) = 0;
    // Fails when the folder exists already or its parent is missing.
    virtual Result<> CreateFolder(const QString& path) = 0;
    // Bare names of the plain files of a folder (no folders, no hidden files), sorted.
    virtual QStringList ListPlainFiles(const QString& folder) const = 0;
    // Bare names of the hidden files (".name") of a folder, sorted.
    virtual QStringList ListHiddenFiles(const QString& folder) const = 0;
    // Removes an empty folder.
    virtual Result<> RemoveFolder(const QString& path) = 0;
    // The first item of a text file, read as comma-delimited text: up to the first comma
    // or the end of the first line, surrounding quotes removed. nullopt when unreadable.
    virtual std::optional<QString> ReadFirstItem(const QString& path) const = 0;
    // A new version of `target` (a drive path), written beside it.
    virtual Result<std::unique_ptr<DurableFile>> CreateDurable(const QString& target) = 0;
    // Moves files on the drive on the commit worker, after the commits asked for before:
    // each `first` renamed over its `second`, then each folder put on the disk once.
    // `done` arrives through the event loop with a line per move that failed.
    using Moves = QList<std::pair<QString, QString>>;
    using MovesDone = std::function<void(const QStringList& failures)>;
    virtual void MoveFiles(const Moves& moves, MovesDone done) = 0;
    // `done` through the event loop once every commit and move asked for before is over.
    virtual void AfterCommits(std::function<void()> done) = 0;

    // What a folder holds, its subfolders included, and the space left on its disk.
    struct FolderFigures {
        qint64 files = 0;
        qint64 bytes = 0;
        qint64 freeBytes = -1;  // -1: not known
    };
    using FiguresDone = std::function<void(const FolderFigures& figures)>;
    // Counted off the caller's thread, as a content folder holds thousands of files;
    // `done` comes through the event loop. A folder not made yet holds nothing, on its
    // parent's disk; a path off the drive is not counted at all (all figures unknown).
    virtual void MeasureFolder(const QString& folder, FiguresDone done) = 0;
};

}  // namespace platform
