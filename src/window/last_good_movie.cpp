#include "window/last_good_movie.h"

#include "content/content_check.h"
#include "platform/log.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <memory>

namespace {

// The kept copy's name: its sha256, so that the copy and its hash are one file that a
// power cut cannot part.
bool IsCopyName(const QString& name) {
    static const QRegularExpression kName(QStringLiteral("^[0-9a-f]{64}\\.swf$"));
    return kName.match(name).hasMatch();
}

// Reads a movie whole: keeps its sha256 in `sha256` and passes it when it is a whole Flash
// movie, and (with `expected`) the one of that sha256.
platform::ContentCheck MovieCheck(std::shared_ptr<QString> sha256, QString expected = {}) {
    return [sha256, expected](const QString& host) -> platform::Result<> {
        QFile file(host);
        if (!file.open(QIODevice::ReadOnly)) {
            return platform::Fail(QStringLiteral("unreadable (") + file.errorString() + ')');
        }
        QCryptographicHash hash(QCryptographicHash::Sha256);
        hash.addData(&file);
        *sha256 = QString::fromLatin1(hash.result().toHex());
        if (!expected.isEmpty() && *sha256 != expected) {
            return platform::Fail(QStringLiteral("changed on the disk: its sha256 is not ") +
                                      expected.left(12) + QStringLiteral("..."),
                                  platform::FailureKind::kRefused);
        }
        if (const auto refused = content::Inspect(host, QStringLiteral("movie.swf"), nullptr)) {
            return platform::Fail(refused->reason, platform::FailureKind::kRefused);
        }
        return {};
    };
}

QString Name(const QString& path) {
    return path.mid(path.lastIndexOf('\\') + 1);
}

}  // namespace

LastGoodMovie::LastGoodMovie(platform::FileSystem& files, QString mainMovie, QString connecting,
                             QString folder, bool checkFiles, Window window)
    : files_(files),
      mainMovie_(std::move(mainMovie)),
      connecting_(std::move(connecting)),
      folder_(std::move(folder)),
      checkFiles_(checkFiles),
      window_(std::move(window)) {
    PlayedWellTimer.Tick = [this] { PlayedWell(); };
    RetryTimer.Tick = [this] { RetryTimer_Timer(); };
}

void LastGoodMovie::Start() {
    // Its folder and the folder above; both may be there already.
    const QString parent = folder_.left(folder_.lastIndexOf('\\'));
    for (const QString& folder : {parent, folder_}) {
        if (!files_.FolderExists(folder)) {
            if (const auto created = files_.CreateFolder(folder); !created) {
                qCWarning(lcApp).noquote()
                    << "cannot create" << folder << "(" + created.reason() + ")";
            }
        }
    }
    for (const QString& name : files_.ListHiddenFiles(folder_)) {
        if (platform::IsTemporaryName(name)) {
            (void)files_.DeleteFile(folder_ + '\\' + name);  // a copy that a power cut cut short
        }
    }
    // The newest copy is kept; older ones are what a stop left while a new one came in.
    QStringList copies = files_.ListPlainFiles(folder_);
    copies.removeIf([](const QString& name) { return !IsCopyName(name); });
    const auto modified = [this](const QString& name) {
        return QFileInfo(files_.HostPath(folder_ + '\\' + name).value_or(QString())).lastModified();
    };
    std::sort(copies.begin(), copies.end(),
              [&](const QString& a, const QString& b) { return modified(a) > modified(b); });
    if (copies.isEmpty()) {
        qCInfo(lcApp) << "no last good main movie kept yet";
        return;
    }
    for (const QString& older : copies.mid(1)) {
        (void)files_.DeleteFile(folder_ + '\\' + older);
    }
    const QString path = folder_ + '\\' + copies.first();
    const QString sha256 = copies.first().left(64);
    copy_ = Kept{path, sha256};
    auto read = std::make_shared<QString>();
    files_.CheckFile(
        path, MovieCheck(read, sha256), [this, path](const platform::Result<>& checked) {
            if (checked) {
                qCInfo(lcApp).noquote() << "last good main movie:" << path;
                return;
            }
            qCWarning(lcApp).noquote() << "the last good main movie" << path
                                       << "is damaged and not used:" << checked.reason();
            if (IsCopy(path)) {
                const bool playing = current_ == path;
                copy_.reset();
                (void)files_.DeleteFile(path);
                if (playing) {
                    FallToConnecting();
                }
            }
        });
}

void LastGoodMovie::Stop() {
    PlayedWellTimer.SetEnabled(false);
    RetryTimer.SetEnabled(false);
}

bool LastGoodMovie::IsMainMovie(const QString& path) const {
    return path.compare(mainMovie_, Qt::CaseInsensitive) == 0;
}

QString LastGoodMovie::Choose(const QString& path) {
    if (path == connecting_ || IsCopy(path)) {
        return path;
    }
    QString why;
    if (failure_ && failure_->path == path && failure_->identity == files_.Identity(path)) {
        why = failure_->reason;  // known not to play, and still the same file
    } else if (const auto host = files_.HostPath(path); !host) {
        why = QStringLiteral("not on the drive");
    } else if (checkFiles_) {
        if (const auto refused = content::InspectMovieStart(*host)) {
            why = refused->reason;
        }
    }
    if (why.isEmpty()) {
        return path;
    }
    Fall(path, why);
    if (copy_) {
        return copy_->path;
    }
    NothingToPlay();
    return QString();
}

void LastGoodMovie::Loaded(const QString& path) {
    current_ = path;
    ++loads_;
    currentSha256_.clear();
    PlayedWellTimer.SetEnabled(false);
    if (path == connecting_ || !checkFiles_) {
        return;
    }
    // Read whole off the window's thread: a movie cut short, or changed on the disk since
    // it was kept, is told here even when the engine plays its start.
    auto sha256 = std::make_shared<QString>();
    files_.CheckFile(path, MovieCheck(sha256, IsCopy(path) ? copy_->sha256 : QString()),
                     [this, load = loads_, sha256](const platform::Result<>& checked) {
                         if (load != loads_) {
                             return;
                         }
                         currentSha256_ = *sha256;
                         if (!checked) {
                             Failed(checked.reason());
                         }
                     });
}

void LastGoodMovie::Started() {
    if (current_.isEmpty() || current_ == connecting_) {
        return;
    }
    nothingToPlay_ = false;
    RetryTimer.SetEnabled(false);
    RetryTimer.SetInterval(firstRetryMs);
    PlayedWellTimer.SetEnabled(false);
    PlayedWellTimer.SetEnabled(true);
}

void LastGoodMovie::Fall(const QString& path, const QString& reason) {
    if (!failure_ || failure_->path != path || failure_->reason != reason) {
        failure_ = Failure{path, files_.Identity(path), reason, QDateTime::currentDateTime()};
        qCWarning(lcApp).noquote() << "main movie" << path << "cannot be played:" << reason
                                   << (copy_ ? "- the last good main movie plays instead"
                                             : "- and no last good main movie is kept");
    }
    window_.statusLine(Name(path) + QStringLiteral(": ") + reason +
                       (copy_ ? QStringLiteral("; the last good main movie plays")
                              : QStringLiteral("; no main movie to play")));
}

void LastGoodMovie::Failed(const QString& reason) {
    PlayedWellTimer.SetEnabled(false);
    if (current_.isEmpty() || current_ == connecting_) {
        return;
    }
    if (IsCopy(current_)) {
        qCWarning(lcApp).noquote() << "the last good main movie cannot be played either:" << reason;
        copy_.reset();
        FallToConnecting();
        return;
    }
    Fall(current_, reason);
    if (copy_) {
        window_.play(copy_->path);
    } else {
        FallToConnecting();
    }
}

void LastGoodMovie::FallToConnecting() {
    NothingToPlay();
    window_.showConnecting();
}

void LastGoodMovie::NothingToPlay() {
    if (!nothingToPlay_) {
        qCWarning(lcApp).noquote() << "no main movie to play: the connecting screen stays up and"
                                   << "an update cycle runs in" << firstRetryMs / 1000 << "s";
    }
    nothingToPlay_ = true;
    if (!RetryTimer.Enabled()) {
        RetryTimer.SetInterval(firstRetryMs);
        RetryTimer.SetEnabled(true);
    }
}

void LastGoodMovie::RetryTimer_Timer() {
    RetryTimer.SetInterval(std::min(RetryTimer.Interval() * 2, lastRetryMs));
    qCInfo(lcApp) << "no main movie to play: an update cycle runs";
    window_.runCycle();
}

void LastGoodMovie::PlayedWell() {
    PlayedWellTimer.SetEnabled(false);
    if (current_ == connecting_ || IsCopy(current_)) {
        return;
    }
    if (failure_) {
        qCInfo(lcApp).noquote() << current_ << "plays well: the main movie is on air again";
        failure_.reset();
    }
    if (!IsMainMovie(current_) || currentSha256_.isEmpty() || copying_ ||
        (copy_ && copy_->sha256 == currentSha256_)) {
        return;
    }
    Keep(current_, currentSha256_);
}

void LastGoodMovie::Keep(const QString& path, const QString& sha256) {
    copying_ = true;
    const QString target = folder_ + '\\' + sha256 + QStringLiteral(".swf");
    auto read = std::make_shared<QString>();
    files_.CopyFile(
        path, target, [](int) {},
        [this, target, sha256](const platform::Result<>& copied) {
            copying_ = false;
            if (!copied) {
                qCWarning(lcApp).noquote()
                    << "cannot keep the main movie as the last good one:" << copied.reason();
                return;
            }
            const std::optional<Kept> old = copy_;
            copy_ = Kept{target, sha256};
            qCInfo(lcApp).noquote() << "kept as the last good main movie:" << target;
            if (old && old->path != target && old->path != current_) {
                (void)files_.DeleteFile(old->path);
            }
        },
        MovieCheck(read, sha256));
}

void LastGoodMovie::CycleEnded() {
    if (!failure_ || !IsCopy(current_) || files_.Identity(failure_->path) == failure_->identity) {
        return;
    }
    qCInfo(lcApp).noquote() << failure_->path
                            << "has changed since it could not be played: it is tried again";
    window_.play(failure_->path);
}

QStringList LastGoodMovie::Faults() const {
    if (!nothingToPlay_) {
        return {};
    }
    QString why = failure_ ? Name(failure_->path) + QStringLiteral(": ") + failure_->reason
                           : QStringLiteral("the last good main movie cannot be played");
    return {QStringLiteral("no main movie to play (%1); the connecting screen stays up, the next "
                           "update cycle within %2 s")
                .arg(why)
                .arg(RetryTimer.Interval() / 1000)};
}

QStringList LastGoodMovie::Warnings() const {
    if (!failure_ || !IsCopy(current_)) {
        return {};
    }
    return {QStringLiteral("main movie %1 cannot be played (%2); the last good main movie plays "
                           "instead")
                .arg(Name(failure_->path), failure_->reason)};
}
