#include "platform/qt/drive_file_system.h"

#include "platform/log.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

constexpr qint64 kMaxFirstLine = 64 * 1024 * 1024;

// What a failed write or flush says; a full disk as "disk full", which callers report
// with the bytes they wanted.
Failure WriteError(int error) {
    if (error == ENOSPC || error == EDQUOT) {
        return DiskFull();
    }
    return Fail(QString::fromLocal8Bit(std::strerror(error)));
}

void Step(const DriveFileSystem::Trace* trace, const char* step, const QString& path) {
    if (trace && *trace) {
        (*trace)(step, path);
    }
}

// Puts a folder's entries (a rename in it) on the disk.
void SyncFolder(const QString& folder, const DriveFileSystem::Trace* trace) {
    Step(trace, "sync folder", folder);
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Writes all of `size` bytes at the file's position.
Result<> WriteAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return WriteError(written < 0 ? errno : ENOSPC);
        }
        data += written;
        size -= written;
    }
    return {};
}

}  // namespace

// A new version of a file, written beside its target. Writes go straight to the system
// (callers write in large blocks), so that a failure is seen at the write that caused it.
class Draft {
  public:
    Draft(QString target, DiskReserve reserve, const DriveFileSystem::Trace* trace)
        : temp_(TemporaryBeside(target, ++serial_)),
          target_(std::move(target)),
          reserve_(std::move(reserve)),
          trace_(trace) {}
    Draft(const Draft&) = delete;
    Draft& operator=(const Draft&) = delete;
    ~Draft() { Discard(); }

    Result<> Open() {
        fd_ = ::open(QFile::encodeName(temp_).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                     0644);
        if (fd_ < 0) {
            return Failed(Fail(QString::fromLocal8Bit(std::strerror(errno))));
        }
        return {};
    }
    Result<> Write(const char* data, qint64 size) {
        if (error_) {
            return *error_;
        }
        if (!WithinReserve(size)) {
            return Failed(DiskFull());
        }
        if (const auto written = WriteAll(fd_, data, size); !written) {
            return Failed(written.failure());
        }
        return {};
    }
    Result<> Fits(qint64 size) {
        if (reserve_.keepFreeBytes <= 0) {
            return {};
        }
        spare_ = SpareNow();
        if (size <= spare_) {
            return {};
        }
        return Failed(DiskFull());
    }
    // Puts the file on the disk, renames it over the target and puts the rename on the
    // disk; on a failure (or content that `check` refuses) the file goes and the target
    // stays as it was.
    Result<> Commit(const ContentCheck& check = {}) {
        Result<> replaced = Replace(check);
        if (replaced) {
            SyncFolder(Folder(), trace_);
        }
        return replaced;
    }
    // Commit, but for the rename's folder, which the caller puts on the disk.
    Result<> Replace(const ContentCheck& check) {
        if (!error_ && fd_ >= 0 && check) {
            if (const auto checked = check(temp_); !checked) {
                Failed(checked.failure());
            }
        }
        if (!error_ && fd_ >= 0) {
            Step(trace_, "sync", temp_);
            // EINVAL: a file that cannot be synced (a device), written as it is.
            if (::fsync(fd_) != 0 && errno != EINVAL) {
                Failed(WriteError(errno));
            }
            ::fchmod(fd_, 0644);
        }
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        if (!error_) {
            Step(trace_, "rename", target_);
            if (std::rename(QFile::encodeName(temp_).constData(),
                            QFile::encodeName(target_).constData()) != 0) {
                Failed(Fail(QStringLiteral("cannot replace: ") +
                            QString::fromLocal8Bit(std::strerror(errno))));
            } else {
                temp_.clear();
                return {};
            }
        }
        Discard();
        return error_ ? *error_ : Fail(QString());
    }
    QString Folder() const { return QFileInfo(target_).absolutePath(); }
    void Discard() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        if (!temp_.isEmpty()) {
            ::unlink(QFile::encodeName(temp_).constData());
            temp_.clear();
        }
    }

  private:
    // What the file system has free beyond the reserve.
    qint64 SpareNow() const {
        const QString folder = QFileInfo(temp_).absolutePath();
        const qint64 free = reserve_.freeBytes ? reserve_.freeBytes(folder) : FreeBytesOn(folder);
        return free - reserve_.keepFreeBytes;
    }
    // Whether `size` more bytes leave the reserve free. The file system is asked only
    // when what it had to spare at the last look has been written.
    bool WithinReserve(qint64 size) {
        if (reserve_.keepFreeBytes <= 0) {
            return true;
        }
        if (size > spare_) {
            spare_ = SpareNow();
            if (size > spare_) {
                return false;
            }
        }
        spare_ -= size;
        return true;
    }
    // Keeps the first failure, so that every later call gives it too.
    Failure Failed(const Failure& failure) {
        if (!error_) {
            error_ = failure;
        }
        return *error_;
    }

    static inline std::atomic<quint64> serial_{0};
    int fd_ = -1;
    QString temp_;  // empty once renamed or removed
    QString target_;
    DiskReserve reserve_;
    const DriveFileSystem::Trace* trace_;
    qint64 spare_ = 0;
    std::optional<Failure> error_;
};

// The program's durable file: written on the caller's thread, committed on the worker.
class DriveDurableFile : public DurableFile {
  public:
    DriveDurableFile(DriveFileSystem& fs, std::shared_ptr<Draft> draft)
        : fs_(fs), draft_(std::move(draft)) {}
    Result<> Write(const char* data, qint64 size) override {
        return draft_ ? draft_->Write(data, size) : Fail(QStringLiteral("already committed"));
    }
    Result<> Fits(qint64 size) override {
        return draft_ ? draft_->Fits(size) : Fail(QStringLiteral("already committed"));
    }
    void CommitChecked(ContentCheck check, CommitDone done) override {
        if (!draft_) {
            fs_.Report([done] { done(Fail(QStringLiteral("already committed"))); });
            return;
        }
        fs_.OnCommitWorker(
            [fs = &fs_, draft = std::move(draft_), check, done] {
                const Result<> committed = draft->Replace(check);
                // Told once its folder is on the disk, with the others' renames of the batch.
                fs->AfterFolderSync(committed ? draft->Folder() : QString(),
                                    [done, committed] { done(committed); });
            },
            true);
    }
    void Discard() override { draft_.reset(); }

  private:
    DriveFileSystem& fs_;
    std::shared_ptr<Draft> draft_;  // null once committed or discarded
};

Result<> WriteFileDurably(const QString& path, const QByteArray& bytes) {
    Draft draft(path, {}, nullptr);
    Result<> written = draft.Open();
    if (written) {
        written = draft.Write(bytes.constData(), bytes.size());
    }
    return written ? draft.Commit() : written;
}

qint64 FreeBytesOn(const QString& path) {
    struct statvfs figures {};
    if (::statvfs(QFile::encodeName(path).constData(), &figures) != 0) {
        return -1;
    }
    return static_cast<qint64>(figures.f_bavail) * static_cast<qint64>(figures.f_frsize);
}

Result<bool> AppendFileDurably(const QString& path, const QByteArray& bytes) {
    const QByteArray name = QFile::encodeName(path);
    const bool created = ::access(name.constData(), F_OK) != 0;
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return WriteError(errno);
    }
    const off_t before = ::lseek(fd, 0, SEEK_END);
    Result<> appended = WriteAll(fd, bytes.constData(), bytes.size());
    // EINVAL: a file that cannot be synced (a device), written as it is.
    if (appended && ::fdatasync(fd) != 0 && errno != EINVAL) {
        appended = WriteError(errno);
    }
    if (!appended && before >= 0 && ::ftruncate(fd, before) != 0) {
        qCWarning(lcPlatform).noquote() << "cannot cut" << path << "back to" << before << "bytes";
    }
    ::close(fd);
    if (!appended) {
        return appended.failure();
    }
    if (created) {
        SyncFolder(QFileInfo(path).absolutePath(), nullptr);
    }
    return created;
}

namespace {

// Copies `from` beside `to` in large blocks and commits it; on any failure (or when asked
// to stop) the temporary goes and `to` stays as it was.
Result<> CopyDurably(const QString& from, const QString& to,
                     const std::function<void(int)>& progress, const std::atomic<bool>& stop,
                     const DiskReserve& reserve, const DriveFileSystem::Trace* trace,
                     const ContentCheck& check) {
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        return Fail(QStringLiteral("cannot read: ") + source.errorString());
    }
    Draft draft(to, reserve, trace);
    if (const auto opened = draft.Open(); !opened) {
        return Fail(QStringLiteral("cannot write: ") + opened.reason(), opened.kind());
    }
    const qint64 total = source.size();
    QByteArray block(1 << 20, Qt::Uninitialized);
    qint64 copied = 0;
    int shown = -1;
    while (!stop) {
        const qint64 got = source.read(block.data(), block.size());
        if (got < 0) {
            return Fail(QStringLiteral("cannot read: ") + source.errorString());
        }
        if (got == 0) {
            break;
        }
        if (const auto written = draft.Write(block.constData(), got); !written) {
            return written;
        }
        copied += got;
        const int percent = total > 0 ? static_cast<int>(copied * 100 / total) : 100;
        if (percent != shown) {
            shown = percent;
            progress(percent);
        }
    }
    if (stop) {
        return Fail(QStringLiteral("stopped"));
    }
    return draft.Commit(check);
}

// The entry of `folder` whose name equals `name` without regard to letter case; the first
// in name order when several do. Read straight from the directory: this runs for every
// new file, in folders of thousands.
std::optional<QString> MatchInFolder(const QString& folder, const QString& name) {
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) {
        return std::nullopt;
    }
    const QByteArray wanted = QFile::encodeName(name);
    const bool ascii = std::all_of(wanted.begin(), wanted.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    std::optional<QString> best;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strlen(entry->d_name) != static_cast<size_t>(wanted.size())) {
            continue;  // letter case leaves the length alone (but for rare letters)
        }
        if (ascii ? qstricmp(entry->d_name, wanted.constData()) != 0
                  : QFile::decodeName(entry->d_name).compare(name, Qt::CaseInsensitive) != 0) {
            continue;
        }
        const QString found = QFile::decodeName(entry->d_name);
        if (!best || found < *best) {
            best = found;
        }
    }
    ::closedir(dir);
    return best;
}

}  // namespace

DriveFileSystem::DriveFileSystem(QString driveFolder, DiskReserve reserve)
    : drive_(QDir::cleanPath(QDir(driveFolder).absolutePath())), reserve_(std::move(reserve)) {
    QDir().mkpath(drive_);
    driveReal_ = QFileInfo(drive_).canonicalFilePath();
    copies_.setMaxThreadCount(1);
    commits_.setMaxThreadCount(1);
    counts_.setMaxThreadCount(1);
    commits_.setExpiryTimeout(-1);
}

DriveFileSystem::~DriveFileSystem() {
    stopping_ = true;
    copies_.waitForDone();
    commits_.waitForDone();
    counts_.waitForDone();
}

void DriveFileSystem::OnCommitWorker(std::function<void()> work, bool batched) {
    ++queued_;
    commits_.start([this, work = std::move(work), batched] {
        --queued_;
        if (!batched) {
            SyncBatch();  // what came before is on the disk and told first
        }
        work();
        if (queued_ == 0) {
            SyncBatch();
        }
    });
}

void DriveFileSystem::AfterFolderSync(const QString& folder, std::function<void()> report) {
    if (!folder.isEmpty() && !batch_.folders.contains(folder)) {
        batch_.folders << folder;
    }
    batch_.reports.push_back(std::move(report));
}

void DriveFileSystem::SyncBatch() {
    for (const QString& folder : std::exchange(batch_.folders, {})) {
        SyncFolder(folder, &trace_);
    }
    for (auto& report : std::exchange(batch_.reports, {})) {
        Report(std::move(report));
    }
}

QString DriveFileSystem::DefaultDriveFolder() {
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    const QString base = xdg.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : xdg;
    return base + QStringLiteral("/dravonelle/drive_c");
}

std::optional<QString> DriveFileSystem::Resolve(const QString& drivePath) const {
    if (!HasDriveSpec(drivePath) || drivePath[0].toLower() != QLatin1Char('c')) {
        return std::nullopt;
    }
    static const QRegularExpression separators(QStringLiteral("[\\\\/]"));
    const QStringList parts = drivePath.mid(2).split(separators, Qt::SkipEmptyParts);
    QStringList stack;
    for (const QString& part : parts) {
        if (part == QLatin1String(".")) {
            continue;
        }
        if (part == QLatin1String("..")) {
            if (stack.isEmpty()) {
                return std::nullopt;  // climbs out of the drive
            }
            stack.removeLast();
            continue;
        }
        if (part.contains(QChar(0))) {
            return std::nullopt;
        }
        stack.append(part);
    }
    QString current = drive_;
    qsizetype existing = current.size();  // how much of `current` exists
    for (const QString& part : stack) {
        const bool inExisting = existing == current.size();
        current += '/';
        if (inExisting && QFileInfo::exists(current + part)) {
            current += part;
            existing = current.size();
        } else if (const auto match =
                       inExisting ? MatchInFolder(current.chopped(1), part) : std::nullopt) {
            current += *match;
            if (QFileInfo::exists(current)) {  // not a link that leads nowhere
                existing = current.size();
            }
        } else {
            current += part;  // nothing below a missing folder exists either
        }
    }
    // A symbolic link that leads out of the drive is refused as ".." is: what the path
    // names so far (its longest existing part) must lie on the drive.
    const QString real = QFileInfo(current.left(existing)).canonicalFilePath();
    if (real != driveReal_ && !real.startsWith(driveReal_ + '/')) {
        return std::nullopt;
    }
    return current;
}

std::optional<QString> DriveFileSystem::HostPath(const QString& path) const {
    if (path.startsWith('/')) {
        QString host = path;
        host.replace('\\', '/');
        return QDir::cleanPath(host);
    }
    return Resolve(path);
}

bool DriveFileSystem::FileExists(const QString& path) const {
    const auto host = HostPath(path);
    return host && QFileInfo(*host).isFile();
}

bool DriveFileSystem::FolderExists(const QString& path) const {
    const auto host = HostPath(path);
    return host && QFileInfo(*host).isDir();
}

Result<> DriveFileSystem::DeleteFile(const QString& path) {
    const auto host = Resolve(path);
    if (!host || !QFileInfo(*host).isFile()) {
        return Fail(QStringLiteral("no such file"));
    }
    QFile file(*host);
    if (!file.remove()) {
        return Fail(file.errorString());
    }
    return {};
}

void DriveFileSystem::CopyFile(const QString& source, const QString& target, CopyProgress progress,
                               CopyDone done, ContentCheck check) {
    const auto from = HostPath(source);
    const auto to = Resolve(target);
    if (!from || !QFileInfo(*from).isFile()) {
        Report([done] { done(Fail(QStringLiteral("no such file"))); });
        return;
    }
    if (!to) {
        Report([done, target] { done(Fail(QStringLiteral("not on the drive: ") + target)); });
        return;
    }
    copies_.start([this, from = *from, to = *to, progress, done, check] {
        Result<> copied = CopyDurably(
            from, to,
            [this, progress](int percent) { Report([progress, percent] { progress(percent); }); },
            stopping_, reserve_, &trace_, check);
        Report([done, copied] { done(copied); });
    });
}

Result<> DriveFileSystem::CreateFolder(const QString& path) {
    const auto host = Resolve(path);
    if (!host) {
        return Fail(QStringLiteral("path leaves the drive"));
    }
    if (::mkdir(QFile::encodeName(*host).constData(), 0755) != 0) {
        return Fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    return {};
}

QStringList DriveFileSystem::ListPlainFiles(const QString& folder) const {
    const auto host = Resolve(folder);
    if (!host) {
        return {};
    }
    return QDir(*host).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList DriveFileSystem::ListHiddenFiles(const QString& folder) const {
    const auto host = Resolve(folder);
    if (!host) {
        return {};
    }
    QStringList names = QDir(*host).entryList(
        {QStringLiteral(".*")}, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    names.removeIf([](const QString& name) { return !name.startsWith('.'); });
    return names;
}

Result<> DriveFileSystem::RemoveFolder(const QString& path) {
    const auto host = Resolve(path);
    if (!host) {
        return Fail(QStringLiteral("path leaves the drive"));
    }
    if (::rmdir(QFile::encodeName(*host).constData()) != 0) {
        return Fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    return {};
}

QString FirstItem(QByteArray line) {
    const qsizetype newline = line.indexOf('\n');
    if (newline >= 0) {
        line.truncate(newline);
    }
    while (line.endsWith('\r')) {
        line.chop(1);
    }
    qsizetype start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) {
        ++start;
    }
    QByteArray item;
    if (start < line.size() && line[start] == '"') {
        const qsizetype end = line.indexOf('"', start + 1);
        item = line.mid(start + 1, end < 0 ? -1 : end - start - 1);
    } else {
        const qsizetype comma = line.indexOf(',', start);
        item = line.mid(start, comma < 0 ? -1 : comma - start);
        while (item.endsWith(' ') || item.endsWith('\t')) {
            item.chop(1);
        }
    }
    return QString::fromUtf8(item);
}

std::optional<QString> DriveFileSystem::ReadFirstItem(const QString& path) const {
    const auto host = Resolve(path);
    if (!host) {
        return std::nullopt;
    }
    QFile file(*host);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return FirstItem(file.readLine(kMaxFirstLine));
}

Result<std::unique_ptr<DurableFile>> DriveFileSystem::CreateDurable(const QString& target) {
    const auto host = Resolve(target);
    if (!host) {
        return Fail(QStringLiteral("path leaves the drive: ") + target);
    }
    auto draft = std::make_shared<Draft>(*host, reserve_, &trace_);
    if (const auto opened = draft->Open(); !opened) {
        return opened.failure();
    }
    return std::unique_ptr<DurableFile>(std::make_unique<DriveDurableFile>(*this, draft));
}

void DriveFileSystem::MoveFiles(const Moves& moves, MovesDone done) {
    Moves resolved;
    QStringList failures;
    for (const auto& [from, to] : moves) {
        const auto source = Resolve(from);
        const auto target = Resolve(to);
        if (source && target) {
            resolved.append({*source, *target});
        } else {
            failures << from + QStringLiteral(": path leaves the drive");
        }
    }
    OnCommitWorker([this, resolved, failures, done]() mutable {
        QStringList folders;
        for (const auto& [from, to] : resolved) {
            Step(&trace_, "rename", to);
            if (std::rename(QFile::encodeName(from).constData(),
                            QFile::encodeName(to).constData()) != 0) {
                failures << QFileInfo(from).fileName() + QStringLiteral(": ") +
                                QString::fromLocal8Bit(std::strerror(errno));
                continue;
            }
            for (const QString& folder :
                 {QFileInfo(from).absolutePath(), QFileInfo(to).absolutePath()}) {
                if (!folders.contains(folder)) {
                    folders << folder;
                }
            }
        }
        for (const QString& folder : folders) {
            SyncFolder(folder, &trace_);
        }
        Report([done, failures] { done(failures); });
    });
}

void DriveFileSystem::CheckFile(const QString& path, ContentCheck check, CheckDone done) {
    const auto host = Resolve(path);
    if (!host) {
        Report([done, path] { done(Fail(QStringLiteral("not on the drive: ") + path)); });
        return;
    }
    OnCommitWorker([this, host = *host, check, done] {
        Result<> checked = !QFileInfo(host).isFile()
                               ? Result<>(Fail(QStringLiteral("no such file")))
                           : check ? check(host)
                                   : Result<>();
        Report([done, checked] { done(checked); });
    });
}

void DriveFileSystem::AfterCommits(std::function<void()> done) {
    OnCommitWorker([this, done] { Report(done); });
}

void DriveFileSystem::MeasureFolder(const QString& folder, FiguresDone done) {
    const auto host = Resolve(folder);
    if (!host) {
        Report([done] { done({-1, -1, -1}); });
        return;
    }
    counts_.start([this, folder = *host, done] {
        FolderFigures figures;
        // A link is no content of the drive: one that leaves it is refused anyway.
        QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext() && !stopping_) {
            it.next();
            ++figures.files;
            figures.bytes += it.fileInfo().size();
        }
        QString existing = folder;  // a folder not made yet is on its parent's disk
        while (!QFileInfo::exists(existing) && existing.count('/') > 1) {
            existing = QFileInfo(existing).absolutePath();
        }
        figures.freeBytes = FreeBytesOn(existing);
        Report([done, figures] { done(figures); });
    });
}

}  // namespace platform
