#include "platform/ruffle/movie_reach.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace platform {

namespace {

bool Within(const QString& path, const QString& folder) {
    return !folder.isEmpty() &&
           (path == folder || path.startsWith(folder.endsWith('/') ? folder : folder + '/'));
}

QString Real(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

}  // namespace

MovieReach::MovieReach(Options options) : options_(std::move(options)) {
    for (const QString& folder : options_.ownFolders) {
        own_ << QDir::cleanPath(folder) << Real(folder);
    }
    if (options_.hostPath) {
        drive_ = QDir::cleanPath(options_.hostPath(QStringLiteral("c:\\")).value_or(QString()));
        driveReal_ = Real(drive_);
    }
}

MovieReach::Decision MovieReach::Decide(const QUrl& url) const {
    static const QStringList kNetwork = {"http", "https"};
    // The page's own means: inline data, the engine's blobs, the web channel's script.
    static const QStringList kPage = {"data", "blob", "qrc", "about"};
    const QString scheme = url.scheme().toLower();
    if (kNetwork.contains(scheme) || kPage.contains(scheme)) {
        return {Verdict::kAllow, {}};
    }
    if (scheme != QLatin1String("file") || !url.host().isEmpty()) {
        return {Verdict::kBlock, {}};
    }
    const QString path = QDir::cleanPath(url.toLocalFile());
    for (const QString& root : {drive_, driveReal_}) {
        if (Within(path, root)) {
            return DecideOnDrive(path, root);
        }
    }
    const auto within = [](const QString& file, const QStringList& folders) {
        return std::any_of(folders.cbegin(), folders.cend(),
                           [&](const QString& folder) { return Within(file, folder); });
    };
    if (within(path, own_)) {
        // A file that is not there is not read either way.
        const QString real = Real(path);
        return {real.isEmpty() || within(real, own_) ? Verdict::kAllow : Verdict::kBlock, {}};
    }
    return {Verdict::kBlock, {}};
}

MovieReach::Decision MovieReach::DecideOnDrive(const QString& path, const QString& root) const {
    const QString drivePath =
        QStringLiteral("c:\\") + path.mid(root.size() + 1).replace('/', QLatin1Char('\\'));
    for (const QString& folder : options_.contentFolders) {
        const QString prefix = folder.endsWith('\\') ? folder : folder + '\\';
        if (!drivePath.startsWith(prefix, Qt::CaseInsensitive)) {
            continue;
        }
        const QString real = Real(options_.hostPath(drivePath).value_or(QString()));
        const QString folderReal = Real(options_.hostPath(folder).value_or(QString()));
        if (real.isEmpty() || !Within(real, folderReal)) {
            return {Verdict::kBlock, {}};
        }
        if (real == path) {
            return {Verdict::kAllow, {}};
        }
        return {Verdict::kRedirect, QUrl::fromLocalFile(real)};
    }
    return {Verdict::kBlock, {}};
}

}  // namespace platform
