#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace platform {

// What a movie's page may reach: the network over http and https; the program's own
// folder (the engine, download.swf) by the names its files have; the content folders on
// the drive by names in any letter case. No other file on the machine, by any address
// form: a path climbing out of those folders, or a link inside them that leads out, is
// refused.
class MovieReach {
  public:
    struct Options {
        QStringList ownFolders;      // host paths: the program's folder, the engine's
        QStringList contentFolders;  // drive paths ("c:\\fileftp")
        // A drive path's host path, in whatever letter case the names have on disk.
        std::function<std::optional<QString>(const QString&)> hostPath;
    };
    enum class Verdict { kAllow, kBlock, kRedirect };
    struct Decision {
        Verdict verdict;
        QUrl to;  // for kRedirect: the file the address names
    };

    explicit MovieReach(Options options);
    Decision Decide(const QUrl& url) const;

  private:
    Decision DecideOnDrive(const QString& path, const QString& root) const;

    Options options_;
    QStringList own_;  // as given, and as the file system has them
    QString drive_;    // the drive's root, likewise
    QString driveReal_;
};

}  // namespace platform
