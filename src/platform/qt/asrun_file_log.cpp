#include "platform/qt/asrun_file_log.h"

#include "asrun/asrun.h"
#include "platform/log.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSemaphore>
#include <QStorageInfo>
#include <QThreadPool>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kWriteWithinMs = 200;  // a line waits at most this long to be written
constexpr int kRetryMs = 2000;       // while the disk is below its reserve
constexpr int kAliveEveryMs = 1000;  // how often the run says it is still alive
constexpr qsizetype kMaxWaiting = 200000;
const QString kAliveFile = QStringLiteral("alive");
const QString kOriginsFile = QStringLiteral("origins.json");

QJsonValue OrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

double Seconds(const QDateTime& from, const QDateTime& to) {
    return std::max<qint64>(from.msecsTo(to), 0) / 1000.0;
}

// Appends `bytes` to `path` and puts them on the disk; on failure the file is as it was.
QString AppendDurably(const QString& path, const QByteArray& bytes, bool* created) {
    *created = !QFileInfo::exists(path);
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return qt_error_string(errno);
    }
    const off_t before = ::lseek(fd, 0, SEEK_END);
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const QString error = qt_error_string(errno);
            if (::ftruncate(fd, before) != 0) {
                qCWarning(lcPlatform).noquote() << "as-run log: cannot cut back" << path;
            }
            ::close(fd);
            return error;
        }
        written += n;
    }
    const bool synced = ::fdatasync(fd) == 0;
    const QString error = synced ? QString() : qt_error_string(errno);
    ::close(fd);
    return error;
}

void SyncFolder(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

class AsRunWorker : public QObject {
  public:
    AsRunWorker(const AsRunFileLog::Options& options, QMutex& mutex, QString& trouble)
        : options_(options),
          mutex_(mutex),
          trouble_(trouble),
          writeTimer_(this),
          aliveTimer_(this) {
        hashPool_.setMaxThreadCount(1);
    }

    void Open() {
        writeTimer_.setSingleShot(true);
        connect(&writeTimer_, &QTimer::timeout, this, [this] { WriteOut(); });
        aliveTimer_.setInterval(kAliveEveryMs);
        connect(&aliveTimer_, &QTimer::timeout, this, [this] { SayAlive(); });
        aliveTimer_.start();
        QDir().mkpath(options_.folder);
        const QStringList days = DayFiles();
        QHash<QString, QJsonObject> open;
        QStringList order;
        QDateTime lastSeen;
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
            const QList<QByteArray> lines = asrun::Lines(content);
            if (!lines.isEmpty()) {  // the chain goes on from the last line there is
                lastHash_ = asrun::Sha256Hex(lines.last());
                lastDay_ = *asrun::DayOfFileName(days[i]);
            }
            for (const QByteArray& line : lines) {
                const QJsonObject record = QJsonDocument::fromJson(line).object();
                const QString id = record.value(QStringLiteral("id")).toString();
                const QString event = record.value(QStringLiteral("event")).toString();
                if (event == QLatin1String("start")) {
                    open.insert(id, record);
                    order << id;
                } else if (event == QLatin1String("end")) {
                    open.remove(id);
                }
                const QDateTime at = asrun::ParseStamp(record
                                                           .value(event == QLatin1String("end")
                                                                      ? QStringLiteral("end")
                                                                      : QStringLiteral("start"))
                                                           .toString());
                lastSeen = std::max(lastSeen, at);
            }
        }
        QFile alive(options_.folder + '/' + kAliveFile);
        if (alive.open(QIODevice::ReadOnly)) {
            lastSeen = std::max(lastSeen, asrun::ParseStamp(QString::fromUtf8(alive.readAll())));
        }
        for (const QString& id : order) {
            if (!open.contains(id)) {
                continue;
            }
            QJsonObject record = open.value(id);
            const QDateTime start =
                asrun::ParseStamp(record.value(QStringLiteral("start")).toString());
            const QDateTime end = std::max(lastSeen, start);
            record.remove(QStringLiteral("prev"));
            record[QStringLiteral("event")] = QStringLiteral("end");
            record[QStringLiteral("end")] = asrun::Stamp(end);
            record[QStringLiteral("seconds")] = Seconds(start, end);
            record[QStringLiteral("outcome")] = QStringLiteral("cut by restart");
            qCWarning(lcPlatform).noquote()
                << "as-run log: the last run left"
                << record.value(QStringLiteral("kind")).toString()
                << record.value(QStringLiteral("name")).toString()
                << "on air; recorded as cut by restart at" << asrun::Stamp(end);
            Queue(end.date(), record);
        }
        SayAlive();
        Prune();
        WriteOut();
    }

    void Begin(const QString& id, const AsRunLog::Start& start) {
        QJsonObject record{{"event", "start"},
                           {"id", id},
                           {"kind", start.kind},
                           {"name", start.name},
                           {"file", OrNull(start.file)},
                           {"origin", start.origin},
                           {"listing", OrNull(start.listing)},
                           {"start", asrun::Stamp(start.at)}};
        if (start.plannedMs > 0) {
            record["planned"] = start.plannedMs / 1000.0;
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
        const QDateTime start = asrun::ParseStamp(record.value(QStringLiteral("start")).toString());
        record["event"] = QStringLiteral("end");
        record["end"] = asrun::Stamp(end.at);
        record["seconds"] = Seconds(start, end.at);
        record["outcome"] = end.outcome;
        record["reason"] = OrNull(end.reason);
        if (end.framesTotal >= 0) {
            record["frames_shown"] = end.framesShown;
            record["frames_total"] = end.framesTotal;
        }
        if (!record.value(QStringLiteral("file")).isNull()) {
            if (hashes_.contains(id)) {
                record["file_sha256"] = QString::fromLatin1(hashes_.take(id));
            } else {
                record["file_sha256"] = QJsonValue();
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
        QSaveFile file(options_.folder + '/' + kOriginsFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit()) {
            qCWarning(lcPlatform).noquote()
                << "as-run log: origins not stored:" << file.errorString();
        }
    }

    // Writes what waits, a run of lines per day file, unless the disk is below its
    // reserve; then it tries again a little later.
    void WriteOut() {
        writeTimer_.stop();
        while (!waiting_.isEmpty()) {
            const QDate day = waiting_.first().first;
            QByteArray bytes;
            qsizetype count = 0;
            while (count < waiting_.size() && waiting_[count].first == day) {
                bytes += waiting_[count].second + '\n';
                ++count;
            }
            const qint64 free = options_.freeBytes ? options_.freeBytes(options_.folder)
                                                   : QStorageInfo(options_.folder).bytesAvailable();
            QString error;
            if (free >= 0 && free - bytes.size() < options_.reserveBytes) {
                error = QStringLiteral("the disk has %1 MiB free, below its reserve of %2 MiB")
                            .arg(free >> 20)
                            .arg(options_.reserveBytes >> 20);
            } else {
                bool created = false;
                error =
                    AppendDurably(options_.folder + '/' + asrun::DayFileName(day), bytes, &created);
                if (error.isEmpty() && created) {
                    SyncFolder(options_.folder);
                    Prune();
                }
            }
            if (!error.isEmpty()) {
                SetTrouble(QStringLiteral("as-run log: %1; %2 lines wait")
                               .arg(error)
                               .arg(waiting_.size()));
                writeTimer_.start(kRetryMs);
                return;
            }
            waiting_.remove(0, count);
        }
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
        }
        waiting_.append({day, line});
        if (!writeTimer_.isActive()) {
            writeTimer_.start(kWriteWithinMs);
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
            Queue(now.date(), QJsonObject{{"event", "file"},
                                          {"id", id},
                                          {"kind", ended.value(QStringLiteral("kind"))},
                                          {"name", ended.value(QStringLiteral("name"))},
                                          {"at", asrun::Stamp(now)},
                                          {"file_sha256", QString::fromLatin1(sha)}});
        }
    }

    void SayAlive() {
        QSaveFile alive(options_.folder + '/' + kAliveFile);
        alive.setDirectWriteFallback(true);
        if (alive.open(QIODevice::WriteOnly)) {
            alive.write(asrun::Stamp(QDateTime::currentDateTime()).toUtf8());
            alive.commit();
        }
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
    QTimer writeTimer_, aliveTimer_;  // children: they move to the log's thread with it
    QList<std::pair<QDate, QByteArray>> waiting_;
    QByteArray lastHash_ = asrun::kNoPrev;
    QDate lastDay_;
    QHash<QString, QJsonObject> open_;       // started, not ended: their start records
    QHash<QString, QByteArray> hashes_;      // of started items
    QHash<QString, QJsonObject> hashLater_;  // ended before their file's hash was known
    QHash<QString, QByteArray> hashCache_;   // path|size|mtime -> sha256
    QThreadPool hashPool_;
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
            origins_.insert(it.key(),
                            {o.value(QStringLiteral("origin")).toString(QStringLiteral("unknown")),
                             o.value(QStringLiteral("listing")).toString()});
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
    // The thread ends from the last thing it is given: a quit from here could end its loop
    // before the lines still waiting are written and the worker is gone.
    QMetaObject::invokeMethod(
        worker_,
        [w = worker_] {
            w->WriteOut();
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
    QJsonObject all;
    {
        QMutexLocker lock(&mutex_);
        origins_.insert(name.toLower(), origin);
        for (auto it = origins_.cbegin(); it != origins_.cend(); ++it) {
            all[it.key()] = QJsonObject{{"origin", it->origin}, {"listing", OrNull(it->listing)}};
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
