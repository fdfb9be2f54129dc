#include "platform/qt/asrun_file_log.h"

#include "asrun/asrun.h"
#include "platform/asrun_record.h"
#include "platform/log.h"
#include "platform/on_air.h"
#include "platform/qt/drive_file_system.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>
#include <QThreadPool>
#include <QTimer>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace platform {

namespace {

namespace field = asrun::field;

constexpr int kWriteWithinMs = 200;     // a line is kept (in memory) within this
constexpr int kOnDiskWithinMs = 60000;  // and on the disk within this
constexpr int kRetryMs = 2000;          // while the disk is below its reserve
constexpr int kAliveEveryMs = 1000;     // how often the run says it is alive, in memory
constexpr int kAliveOnDiskEvery = 60;   // of those, how often on the disk too
constexpr qsizetype kMaxWaiting = 200000;
const QString kAliveFile = QStringLiteral("alive");
const QString kOriginsFile = QStringLiteral("origins.json");

QJsonValue OrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// Where the log keeps what must outlive the program but not a power cut: a name on tmpfs
// for the folder, in the runtime folder where it is one, else in /dev/shm; none when
// neither is.
QString MemoryPrefix(const QString& folder) {
    const QByteArray tag =
        QCryptographicHash::hash(QFile::encodeName(QFileInfo(folder).absoluteFilePath()),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    for (const QString& place :
         {QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR")), QStringLiteral("/dev/shm")}) {
        struct statfs fs {};
        if (!place.isEmpty() && ::statfs(QFile::encodeName(place).constData(), &fs) == 0 &&
            (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC)) {
            return place + QStringLiteral("/dravonelle-asrun-") + QString::fromLatin1(tag);
        }
    }
    return QString();
}

// Where the run says that it is alive, for the next start to end what it left on air: a
// stamp every second in memory, and one a minute on the disk for a power cut. Both are
// rewritten in place and never synced, so that an idle display writes one block a minute
// for them, and the kernel's writeback puts it down.
class AliveStamps {
  public:
    AliveStamps(const QString& folder, const QString& memoryPrefix)
        : disk_(folder + '/' + kAliveFile),
          memory_(memoryPrefix.isEmpty() ? QString() : memoryPrefix + QStringLiteral("-alive")) {}
    ~AliveStamps() {
        for (const int fd : {diskFd_, memoryFd_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    // The latest stamp the last run left, before this one says anything.
    QDateTime LastRun() const { return std::max(Read(disk_), Read(memory_)); }
    void Say(const QDateTime& now, bool onDisk) {
        const QByteArray line = asrun::Stamp(now).toUtf8().leftJustified(kWidth - 1, ' ') + '\n';
        if (!memory_.isEmpty()) {
            Put(memory_, memoryFd_, line);
        }
        if (onDisk) {
            Put(disk_, diskFd_, line);
        }
    }
    // At a normal close: the disk has the last word, and the memory stamp goes.
    void Close(const QDateTime& now) {
        Say(now, true);
        if (!memory_.isEmpty()) {
            ::unlink(QFile::encodeName(memory_).constData());
        }
    }

  private:
    static constexpr int kWidth = 48;

    static QDateTime Read(const QString& path) {
        QFile file(path);
        if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return asrun::ParseStamp(QString::fromUtf8(file.read(kWidth)).trimmed());
    }
    static void Put(const QString& path, int& fd, const QByteArray& line) {
        if (fd < 0) {
            fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        }
        if (fd >= 0 && ::pwrite(fd, line.constData(), static_cast<size_t>(line.size()), 0) < 0) {
            qCDebug(lcPlatform).noquote() << "as-run log: cannot stamp" << path;
        }
    }

    QString disk_, memory_;
    int diskFd_ = -1, memoryFd_ = -1;
};

// The lines not yet on the disk, kept in memory that outlives the program: the disk gets
// them once a minute, and a crash loses none of them.
class MemoryLines {
  public:
    using Lines = QList<std::pair<QDate, QByteArray>>;
    explicit MemoryLines(const QString& memoryPrefix)
        : path_(memoryPrefix.isEmpty() ? QString() : memoryPrefix + QStringLiteral("-lines")) {}
    bool Available() const { return !path_.isEmpty(); }
    // What the last run left there, in order.
    Lines Left() const {
        Lines left;
        QFile file(path_);
        if (path_.isEmpty() || !file.open(QIODevice::ReadOnly)) {
            return left;
        }
        for (const QByteArray& entry : asrun::Lines(file.readAll())) {
            const QDate day = QDate::fromString(QString::fromLatin1(entry.left(10)), Qt::ISODate);
            if (day.isValid() && entry.size() > 11) {
                left.append({day, entry.mid(11)});
            }
        }
        return left;
    }
    void Append(Lines::const_iterator from, Lines::const_iterator to) {
        QByteArray bytes;
        for (auto it = from; it != to; ++it) {
            bytes += it->first.toString(Qt::ISODate).toLatin1() + ' ' + it->second + '\n';
        }
        QFile file(path_);
        if (!bytes.isEmpty() &&
            (!file.open(QIODevice::Append) || file.write(bytes) != bytes.size())) {
            qCWarning(lcPlatform).noquote() << "as-run log: cannot keep lines in" << path_;
        }
    }
    // Exactly `lines`, no more.
    void Keep(const Lines& lines) {
        if (Available()) {
            QFile(path_).resize(0);
            Append(lines.cbegin(), lines.cend());
        }
    }
    void Remove() {
        if (Available()) {
            QFile::remove(path_);
        }
    }

  private:
    QString path_;
};

}  // namespace

class AsRunWorker : public QObject {
  public:
    AsRunWorker(const AsRunFileLog::Options& options, QMutex& mutex, QString& trouble)
        : AsRunWorker(options, mutex, trouble, MemoryPrefix(options.folder)) {}

  private:
    AsRunWorker(const AsRunFileLog::Options& options, QMutex& mutex, QString& trouble,
                const QString& memoryPrefix)
        : options_(options),
          mutex_(mutex),
          trouble_(trouble),
          writeTimer_(this),
          diskTimer_(this),
          aliveTimer_(this),
          alive_(options.folder, memoryPrefix),
          memory_(memoryPrefix) {
        hashPool_.setMaxThreadCount(1);
    }

  public:
    void Open() {
        writeTimer_.setSingleShot(true);
        connect(&writeTimer_, &QTimer::timeout, this, [this] {
            if (memory_.Available()) {
                KeepInMemory();
            } else {
                WriteOut();
            }
        });
        diskTimer_.setSingleShot(true);
        connect(&diskTimer_, &QTimer::timeout, this, [this] { WriteOut(); });
        aliveTimer_.setInterval(kAliveEveryMs);
        connect(&aliveTimer_, &QTimer::timeout, this, [this] { SayAlive(); });
        aliveTimer_.start();
        QDir().mkpath(options_.folder);
        Recover();
        const QStringList days = DayFiles();
        QList<QByteArray> lines;  // of the last two days, in order
        for (qsizetype i = std::max<qsizetype>(0, days.size() - 2); i < days.size(); ++i) {
            const QString path = options_.folder + '/' + days[i];
            QFile file(path);
            if (!file.open(QIODevice::ReadWrite)) {
                continue;
            }
            const QByteArray content = file.readAll();
            if (!content.isEmpty() && !content.endsWith('\n')) {
                const qsizetype keep = content.lastIndexOf('\n') + 1;
                qCWarning(lcPlatform).noquote()
                    << "as-run log:" << days[i] << "ended in a line cut short ("
                    << content.size() - keep << "bytes); it is dropped";
                file.resize(keep);
            }
            const QList<QByteArray> day = asrun::Lines(content);
            if (!day.isEmpty()) {  // the chain goes on from the last line there is
                lastHash_ = asrun::Sha256Hex(day.last());
                lastDay_ = *asrun::DayOfFileName(days[i]);
            }
            lines += day;
        }
        if (!waiting_.isEmpty()) {  // recovered, still waiting for the disk
            lastHash_ = asrun::Sha256Hex(waiting_.last().second);
            lastDay_ = std::max(lastDay_, waiting_.last().first);
        }
        for (const QJsonObject& record : asrun::CutByRestart(lines, alive_.LastRun())) {
            const QString end = record.value(field::kEnd).toString();
            qCWarning(lcPlatform).noquote()
                << "as-run log: the last run left" << record.value(field::kKind).toString()
                << record.value(field::kName).toString() << "on air; recorded as cut by restart at"
                << end;
            Queue(asrun::ParseStamp(end).date(), record);
        }
        SayAlive();
        Prune();
        WriteOut();
    }

    void Begin(const QString& id, const AsRunLog::Start& start) {
        QJsonObject record{
            {field::kEvent, asrun::event::kStart},    {field::kId, id},
            {field::kKind, on_air::Text(start.kind)}, {field::kName, start.name},
            {field::kFile, OrNull(start.file)},       {field::kOrigin, start.origin},
            {field::kListing, OrNull(start.listing)}, {field::kStart, asrun::Stamp(start.at)}};
        if (start.plannedMs > 0) {
            record[field::kPlanned] = start.plannedMs / 1000.0;
        }
        open_.insert(id, record);
        Queue(start.at.date(), record);
        if (!start.file.isEmpty()) {
            Hash(id, start.file);
        }
    }

    void Finish(const QString& id, const AsRunLog::End& end) {
        QJsonObject record = open_.take(id);
        if (record.isEmpty()) {
            return;
        }
        const QDateTime start = asrun::ParseStamp(record.value(field::kStart).toString());
        record[field::kEvent] = asrun::event::kEnd;
        record[field::kEnd] = asrun::Stamp(end.at);
        record[field::kSeconds] = asrun::Seconds(start, end.at);
        record[field::kOutcome] = on_air::Text(end.outcome);
        record[field::kReason] = OrNull(end.reason);
        if (end.framesTotal >= 0) {
            record[field::kFramesShown] = end.framesShown;
            record[field::kFramesTotal] = end.framesTotal;
        }
        if (!record.value(field::kFile).isNull()) {
            if (hashes_.contains(id)) {
                record[field::kFileSha256] = QString::fromLatin1(hashes_.take(id));
            } else {
                record[field::kFileSha256] = QJsonValue();
                hashLater_.insert(id, record);  // a "file" line follows once it is known
            }
        }
        Queue(end.at.date(), record);
    }

    void Read(QDate day, std::function<void(std::optional<QByteArray>)> done) {
        WriteOut();
        QFile file(options_.folder + '/' + asrun::DayFileName(day));
        std::optional<QByteArray> content;
        if (file.open(QIODevice::ReadOnly)) {
            content = file.readAll();
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [done, content] { done(content); }, Qt::QueuedConnection);
    }

    void SaveOrigins(const QByteArray& json) {
        const QString path = options_.folder + '/' + kOriginsFile;
        if (const auto written = WriteFileDurably(path, json); !written) {
            qCWarning(lcPlatform).noquote()
                << "as-run log: origins not stored:" << written.reason();
        }
    }

    // The last task of the log's thread. Lines the disk did not take stay in memory, for
    // the next start.
    void Close() {
        WriteOut();
        if (waiting_.isEmpty()) {
            memory_.Remove();
        }
        alive_.Close(QDateTime::currentDateTime());
    }

    // The lines a crash left in memory go to the disk first: those after the disk's last
    // line, which the first of them names as "prev" (or one of them is).
    void Recover() {
        const MemoryLines::Lines left = memory_.Left();
        if (left.isEmpty()) {
            return;
        }
        QByteArray last = asrun::kNoPrev;
        const QStringList days = DayFiles();
        for (qsizetype i = days.size() - 1; i >= 0; --i) {
            QFile file(options_.folder + '/' + days[i]);
            if (file.open(QIODevice::ReadOnly)) {
                if (const auto lines = asrun::Lines(file.readAll()); !lines.isEmpty()) {
                    last = asrun::Sha256Hex(lines.last());
                    break;
                }
            }
        }
        qsizetype from = -1;
        if (QJsonDocument::fromJson(left.first().second)[field::kPrev].toString().toLatin1() ==
            last) {
            from = 0;
        }
        for (qsizetype i = left.size() - 1; from < 0 && i >= 0; --i) {
            if (asrun::Sha256Hex(left[i].second) == last) {
                from = i + 1;
            }
        }
        if (from < 0) {
            qCWarning(lcPlatform) << "as-run log:" << left.size()
                                  << "lines kept in memory do not follow the disk's; dropped";
            memory_.Remove();
            return;
        }
        qCInfo(lcPlatform) << "as-run log:" << left.size() - from
                           << "lines of the last run were still in memory; written now";
        waiting_ = left.mid(from);
        WriteOut();
    }

    // Lines are kept in memory within a fraction of a second and written to the disk once
    // a minute (at once when there is no memory for them).
    void KeepInMemory() {
        memory_.Append(waiting_.cbegin() + kept_, waiting_.cend());
        kept_ = waiting_.size();
    }

    // Writes what waits, a run of lines per day file, unless the disk is below its
    // reserve; then it tries again a little later.
    void WriteOut() {
        writeTimer_.stop();
        diskTimer_.stop();
        const qsizetype before = waiting_.size();
        while (!waiting_.isEmpty()) {
            const QDate day = waiting_.first().first;
            QByteArray bytes;
            qsizetype count = 0;
            while (count < waiting_.size() && waiting_[count].first == day) {
                bytes += waiting_[count].second + '\n';
                ++count;
            }
            const qint64 free = options_.freeBytes ? options_.freeBytes(options_.folder)
                                                   : FreeBytesOn(options_.folder);
            QString error;
            if (free >= 0 && free - bytes.size() < options_.reserveBytes) {
                error = QStringLiteral("the disk has %1 MiB free, below its reserve of %2 MiB")
                            .arg(free >> 20)
                            .arg(options_.reserveBytes >> 20);
            } else {
                const auto appended =
                    AppendFileDurably(options_.folder + '/' + asrun::DayFileName(day), bytes);
                if (!appended) {
                    error = appended.reason();
                } else if (*appended) {  // a new day's file
                    Prune();
                }
            }
            if (!error.isEmpty()) {
                SetTrouble(QStringLiteral("as-run log: %1; %2 lines wait")
                               .arg(error)
                               .arg(waiting_.size()));
                if (waiting_.size() != before || kept_ != waiting_.size()) {
                    memory_.Keep(waiting_);
                    kept_ = waiting_.size();
                }
                diskTimer_.start(kRetryMs);
                return;
            }
            waiting_.remove(0, count);
        }
        if (before > 0) {
            memory_.Keep({});
        }
        kept_ = 0;
        SetTrouble(QString());
    }

  private:
    QStringList DayFiles() const {
        QStringList days;
        for (const QString& name : QDir(options_.folder).entryList(QDir::Files, QDir::Name)) {
            if (asrun::DayOfFileName(name)) {
                days << name;
            }
        }
        return days;
    }

    void Prune() {
        const QDate oldest = QDate::currentDate().addDays(-options_.keepDays);
        for (const QString& name : DayFiles()) {
            if (*asrun::DayOfFileName(name) < oldest &&
                QFile::remove(options_.folder + '/' + name)) {
                qCInfo(lcPlatform).noquote() << "as-run log: removed" << name << "(older than"
                                             << options_.keepDays << "days)";
            }
        }
    }

    void Queue(QDate day, const QJsonObject& record) {
        // The chain runs in the order of the lines, through the files in day order.
        day = std::max(day, lastDay_);
        lastDay_ = day;
        const QByteArray line = asrun::ChainLine(record, lastHash_);
        lastHash_ = asrun::Sha256Hex(line);
        if (waiting_.size() >= kMaxWaiting) {
            qCWarning(lcPlatform) << "as-run log: too many lines wait; the oldest is dropped";
            waiting_.removeFirst();
            kept_ = std::max<qsizetype>(kept_ - 1, 0);
        }
        waiting_.append({day, line});
        if (!writeTimer_.isActive()) {
            writeTimer_.start(kWriteWithinMs);
        }
        if (memory_.Available() && !diskTimer_.isActive()) {
            diskTimer_.start(kOnDiskWithinMs);
        }
    }

    void Hash(const QString& id, const QString& drivePath) {
        const std::optional<QString> host =
            options_.hostPath ? options_.hostPath(drivePath) : std::optional<QString>(drivePath);
        if (!host) {
            return;
        }
        const QFileInfo info(*host);
        const QString key = info.absoluteFilePath() + '|' + QString::number(info.size()) + '|' +
                            QString::number(info.lastModified().toMSecsSinceEpoch());
        if (const auto known = hashCache_.constFind(key); known != hashCache_.cend()) {
            hashes_.insert(id, *known);
            return;
        }
        QThreadPool* pool = &hashPool_;
        pool->start([this, id, key, path = *host] {
            QFile file(path);
            QCryptographicHash hash(QCryptographicHash::Sha256);
            const bool ok = file.open(QIODevice::ReadOnly) && hash.addData(&file);
            const QByteArray sha = ok ? hash.result().toHex() : QByteArray();
            QMetaObject::invokeMethod(
                this, [this, id, key, sha] { Hashed(id, key, sha); }, Qt::QueuedConnection);
        });
    }

    void Hashed(const QString& id, const QString& key, const QByteArray& sha) {
        if (sha.isEmpty()) {
            return;
        }
        if (hashCache_.size() > 10000) {
            hashCache_.clear();
        }
        hashCache_.insert(key, sha);
        if (open_.contains(id)) {
            hashes_.insert(id, sha);
        } else if (hashLater_.contains(id)) {
            const QJsonObject ended = hashLater_.take(id);
            const QDateTime now = QDateTime::currentDateTime();
            Queue(now.date(), QJsonObject{{field::kEvent, asrun::event::kFile},
                                          {field::kId, id},
                                          {field::kKind, ended.value(field::kKind)},
                                          {field::kName, ended.value(field::kName)},
                                          {field::kAt, asrun::Stamp(now)},
                                          {field::kFileSha256, QString::fromLatin1(sha)}});
        }
    }

    void SayAlive() {
        alive_.Say(QDateTime::currentDateTime(), saidAlive_++ % kAliveOnDiskEvery == 0);
    }

    void SetTrouble(const QString& trouble) {
        QMutexLocker lock(&mutex_);
        if (trouble.isEmpty() && !trouble_.isEmpty()) {
            qCInfo(lcPlatform) << "as-run log: written again";
        } else if (!trouble.isEmpty() && trouble_.isEmpty()) {
            qCWarning(lcPlatform).noquote() << trouble << "(it waits for the disk)";
        }
        trouble_ = trouble;
    }

    AsRunFileLog::Options options_;
    QMutex& mutex_;
    QString& trouble_;
    QTimer writeTimer_, diskTimer_, aliveTimer_;  // children: they move to the log's thread
    MemoryLines::Lines waiting_;                  // not yet on the disk
    qsizetype kept_ = 0;                          // of those, the first ones kept in memory
    QByteArray lastHash_ = asrun::kNoPrev;
    QDate lastDay_;
    QHash<QString, QJsonObject> open_;       // started, not ended: their start records
    QHash<QString, QByteArray> hashes_;      // of started items
    QHash<QString, QJsonObject> hashLater_;  // ended before their file's hash was known
    QHash<QString, QByteArray> hashCache_;   // path|size|mtime -> sha256
    QThreadPool hashPool_;
    AliveStamps alive_;
    MemoryLines memory_;
    quint64 saidAlive_ = 0;
};

AsRunFileLog::AsRunFileLog(Options options)
    : options_(std::move(options)),
      run_(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmsszzz"))) {
    QDir().mkpath(options_.folder);
    QFile origins(options_.folder + '/' + kOriginsFile);
    if (origins.open(QIODevice::ReadOnly)) {
        const QJsonObject all = QJsonDocument::fromJson(origins.readAll()).object();
        for (auto it = all.begin(); it != all.end(); ++it) {
            const QJsonObject o = it.value().toObject();
            origins_.insert(it.key(), {o.value(field::kOrigin).toString(asrun::origin::kUnknown),
                                       o.value(field::kListing).toString()});
        }
    }
    worker_ = new AsRunWorker(options_, mutex_, trouble_);
    worker_->moveToThread(&thread_);
    thread_.setObjectName(QStringLiteral("as-run log"));
    thread_.start();
    QMetaObject::invokeMethod(
        worker_, [w = worker_] { w->Open(); }, Qt::QueuedConnection);
}

AsRunFileLog::~AsRunFileLog() {
    StoreOrigins();
    // The thread ends from the last thing it is given: a quit from here could end its loop
    // before the lines still waiting are written and the worker is gone.
    QMetaObject::invokeMethod(
        worker_,
        [w = worker_] {
            w->Close();
            delete w;
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (!thread_.wait(5000)) {
        qCWarning(lcPlatform) << "as-run log: its thread did not end within 5 s";
    }
}

quint64 AsRunFileLog::Begin(const Start& start) {
    const quint64 item = ++next_;
    QMetaObject::invokeMethod(
        worker_,
        [w = worker_, id = run_ + '-' + QString::number(item), start] { w->Begin(id, start); },
        Qt::QueuedConnection);
    return item;
}

void AsRunFileLog::Finish(quint64 item, const End& end) {
    QMetaObject::invokeMethod(
        worker_,
        [w = worker_, id = run_ + '-' + QString::number(item), end] { w->Finish(id, end); },
        Qt::QueuedConnection);
}

void AsRunFileLog::ReadDay(QDate day, std::function<void(std::optional<QByteArray>)> done) {
    QMetaObject::invokeMethod(
        worker_, [w = worker_, day, done = std::move(done)] { w->Read(day, done); },
        Qt::QueuedConnection);
}

QString AsRunFileLog::Trouble() const {
    QMutexLocker lock(&mutex_);
    return trouble_;
}

bool AsRunFileLog::Flush(int ms) {
    auto done = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(
        worker_,
        [w = worker_, done] {
            w->WriteOut();
            done->release();
        },
        Qt::QueuedConnection);
    return done->tryAcquire(1, ms) && Trouble().isEmpty();
}

void AsRunFileLog::NoteOrigin(const QString& name, const Origin& origin) {
    QMutexLocker lock(&mutex_);
    origins_.insert(name.toLower(), origin);
    originsChanged_ = true;
}

void AsRunFileLog::StoreOrigins() {
    QJsonObject all;
    {
        QMutexLocker lock(&mutex_);
        if (!originsChanged_) {
            return;
        }
        originsChanged_ = false;
        for (auto it = origins_.cbegin(); it != origins_.cend(); ++it) {
            all[it.key()] =
                QJsonObject{{field::kOrigin, it->origin}, {field::kListing, OrNull(it->listing)}};
        }
    }
    QMetaObject::invokeMethod(
        worker_,
        [w = worker_, json = QJsonDocument(all).toJson(QJsonDocument::Compact)] {
            w->SaveOrigins(json);
        },
        Qt::QueuedConnection);
}

AsRunLog::Origin AsRunFileLog::OriginOf(const QString& name) const {
    QMutexLocker lock(&mutex_);
    return origins_.value(name.toLower());
}

}  // namespace platform
