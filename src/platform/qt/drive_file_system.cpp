#include "platform/qt/drive_file_system.h"

#include "platform/log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

constexpr qint64 kMaxFirstLine = 64 * 1024 * 1024;

// What a failed write or flush says; a full disk as "disk full", which callers report
// with the bytes they wanted.
QString WriteError(int error) {
    if (error == ENOSPC || error == EDQUOT) {
        return kDiskFull;
    }
    return QString::fromLocal8Bit(std::strerror(error));
}

// Writes go straight to the system (callers write in large blocks), so that a failure is
// seen at the write that caused it; Close puts the file on the disk before it returns.
class QtFileWriter : public FileWriter {
  public:
    QtFileWriter(const QString& path, DiskReserve reserve)
        : file_(path), reserve_(std::move(reserve)) {}
    Result<> Open() {
        if (file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            return {};
        }
        return Failed(file_.errorString());
    }
    Result<> Write(const char* data, qint64 size) override {
        if (!error_.isEmpty()) {
            return Fail(error_);
        }
        if (!WithinReserve(size)) {
            return Failed(kDiskFull);
        }
        while (size > 0) {
            const ssize_t written = ::write(file_.handle(), data, static_cast<size_t>(size));
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return Failed(WriteError(written < 0 ? errno : ENOSPC));
            }
            data += written;
            size -= written;
        }
        return {};
    }
    Result<> Close() override {
        if (!file_.isOpen()) {
            return error_.isEmpty() ? Result<>() : Fail(error_);
        }
        const bool synced = ::fsync(file_.handle()) == 0 || errno == EINVAL;  // EINVAL: a device
        const int why = errno;
        file_.close();
        if (!synced) {
            return Failed(WriteError(why));
        }
        return error_.isEmpty() ? Result<>() : Fail(error_);
    }
    Result<> Fits(qint64 size) override {
        if (reserve_.keepFreeBytes <= 0) {
            return {};
        }
        spare_ = SpareNow();
        if (size <= spare_) {
            return {};
        }
        return Failed(kDiskFull);
    }

  private:
    // What the file system has free beyond the reserve.
    qint64 SpareNow() const {
        const QString folder = QFileInfo(file_.fileName()).absolutePath();
        const qint64 free =
            reserve_.freeBytes ? reserve_.freeBytes(folder) : QStorageInfo(folder).bytesAvailable();
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
    Failure Failed(const QString& reason) {
        if (error_.isEmpty()) {
            error_ = reason;
        }
        return Fail(error_);
    }

    QFile file_;
    DiskReserve reserve_;
    qint64 spare_ = 0;
    QString error_;
};

// Puts a rename in a folder on the disk.
void SyncFolder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Renames `from` over `to` and puts the change on the disk.
Result<> RenameDurably(const QString& from, const QString& to) {
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
        return Fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    SyncFolder(QFileInfo(to).absolutePath());
    return {};
}

// Copies `from` beside `to` in large blocks, puts it on the disk and renames it over `to`;
// on any failure (or when asked to stop) the temporary goes and `to` stays as it was.
Result<> CopyDurably(const QString& from, const QString& to,
                     const std::function<void(int)>& progress, const std::atomic<bool>& stop,
                     const DiskReserve& reserve) {
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        return Fail(QStringLiteral("cannot read: ") + source.errorString());
    }
    const QString temp = TemporaryBeside(to);
    QtFileWriter writer(temp, reserve);
    if (const auto opened = writer.Open(); !opened) {
        return Fail(QStringLiteral("cannot write: ") + opened.reason());
    }
    QString error;
    const qint64 total = source.size();
    QByteArray block(1 << 20, Qt::Uninitialized);
    qint64 copied = 0;
    int shown = -1;
    bool ok = true;
    while (ok && !stop) {
        const qint64 got = source.read(block.data(), block.size());
        if (got < 0) {
            error = QStringLiteral("cannot read: ") + source.errorString();
            ok = false;
        } else if (got == 0) {
            break;
        } else if (const auto written = writer.Write(block.constData(), got); !written) {
            error = written.reason();
            ok = false;
        } else {
            copied += got;
            const int percent = total > 0 ? static_cast<int>(copied * 100 / total) : 100;
            if (percent != shown) {
                shown = percent;
                progress(percent);
            }
        }
    }
    if (stop) {
        error = QStringLiteral("stopped");
        ok = false;
    }
    if (const auto closed = writer.Close(); !closed && ok) {
        error = closed.reason();
        ok = false;
    }
    QFile::setPermissions(
        temp, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    Result<> renamed = ok ? RenameDurably(temp, to) : Fail(error);
    if (!renamed) {
        QFile::remove(temp);
    }
    return renamed;
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

bool IsWindowsDriveSpec(const QString& path) {
    return path.size() >= 2 && path[1] == ':' && path[0].isLetter();
}

}  // namespace

bool FileSystem::IsDrivePath(const QString& path) const {
    return IsWindowsDriveSpec(path) && HostPath(path).has_value();
}

DriveFileSystem::DriveFileSystem(QString driveFolder, DiskReserve reserve)
    : drive_(QDir::cleanPath(QDir(driveFolder).absolutePath())), reserve_(std::move(reserve)) {
    QDir().mkpath(drive_);
    driveReal_ = QFileInfo(drive_).canonicalFilePath();
    copies_.setMaxThreadCount(1);
}

DriveFileSystem::~DriveFileSystem() {
    stopping_ = true;
    copies_.waitForDone();
}

QString DriveFileSystem::DefaultDriveFolder() {
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    const QString base = xdg.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : xdg;
    return base + QStringLiteral("/dravonelle/drive_c");
}

std::optional<QString> DriveFileSystem::Resolve(const QString& drivePath) const {
    if (!IsWindowsDriveSpec(drivePath) || drivePath[0].toLower() != QLatin1Char('c')) {
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
    for (const QString& part : stack) {
        QString chosen = part;
        if (!QFileInfo::exists(current + '/' + part)) {
            chosen = MatchInFolder(current, part).value_or(part);
        }
        current += '/' + chosen;
    }
    // A symbolic link that leads out of the drive is refused as ".." is: what the path
    // names so far (its longest existing part) must lie on the drive.
    QString existing = current;
    while (existing.size() > drive_.size() && !QFileInfo::exists(existing)) {
        existing.truncate(existing.lastIndexOf('/'));
    }
    const QString real = QFileInfo(existing).canonicalFilePath();
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

bool DriveFileSystem::DeleteFile(const QString& path) {
    const auto host = Resolve(path);
    return host && QFileInfo(*host).isFile() && QFile::remove(*host);
}

void DriveFileSystem::CopyFile(const QString& source, const QString& target, CopyProgress progress,
                               CopyDone done) {
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
    copies_.start([this, from = *from, to = *to, progress, done] {
        Result<> copied = CopyDurably(
            from, to,
            [this, progress](int percent) { Report([progress, percent] { progress(percent); }); },
            stopping_, reserve_);
        Report([done, copied] { done(copied); });
    });
}

bool DriveFileSystem::CreateFolder(const QString& path) {
    const auto host = Resolve(path);
    return host && ::mkdir(QFile::encodeName(*host).constData(), 0755) == 0;
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

bool DriveFileSystem::RemoveFolder(const QString& path) {
    const auto host = Resolve(path);
    return host && ::rmdir(QFile::encodeName(*host).constData()) == 0;
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
    QByteArray line = file.readLine(kMaxFirstLine);
    while (line.endsWith('\n') || line.endsWith('\r')) {
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

Result<std::unique_ptr<FileWriter>> DriveFileSystem::CreateFile(const QString& path) {
    const auto host = Resolve(path);
    if (!host) {
        return Fail(QStringLiteral("path leaves the drive: ") + path);
    }
    auto writer = std::make_unique<QtFileWriter>(*host, reserve_);
    if (const auto opened = writer->Open(); !opened) {
        return Fail(opened.reason());
    }
    return std::unique_ptr<FileWriter>(std::move(writer));
}

Result<> DriveFileSystem::ReplaceFile(const QString& source, const QString& target) {
    const auto from = Resolve(source);
    const auto to = Resolve(target);
    if (!from || !to) {
        return Fail(QStringLiteral("path leaves the drive"));
    }
    return RenameDurably(*from, *to);
}

qint64 DriveFileSystem::FileSize(const QString& path) const {
    const auto host = HostPath(path);
    return host ? QFileInfo(*host).size() : -1;
}

}  // namespace platform
