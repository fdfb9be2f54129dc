// dravonelle-listing: writes the content site's listing of a folder.
//
//   dravonelle-listing [--watch] FOLDER [OUTPUT]
//
// The listing is one line, name;stamp;size;name;stamp;size;... without commas, for the
// plain files of FOLDER (the site's "/fotos/" folder). The stamp is a digest of the
// file's content, so it changes whenever the file changes. Written to OUTPUT (in one
// step, so a web server never serves half a listing) or to standard output. A plain
// static server can serve it as the site's "dir.php". With --watch (OUTPUT required) it
// keeps running and writes the listing again whenever the folder changes.
#include "platform/program_info.h"
#include "platform/qt/drive_file_system.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace {

// The listing line of `folder`; nullopt (and why, on standard error) when a file cannot be
// read.
std::optional<QByteArray> Listing(const QDir& folder) {
    QStringList fields;
    for (const QFileInfo& info :
         folder.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString name = info.fileName();
        if (name.contains(',') || name.contains(';') || name.contains('\n') ||
            name.contains('\r') || name.contains('"')) {
            std::fprintf(stderr, "dravonelle-listing: skipped %s: its name cannot be listed\n",
                         qPrintable(name));
            continue;
        }
        QFile file(info.filePath());
        QCryptographicHash hash(QCryptographicHash::Sha1);
        if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
            std::fprintf(stderr, "dravonelle-listing: cannot read %s\n", qPrintable(name));
            return std::nullopt;
        }
        fields << name << QString::fromLatin1(hash.result().toHex().left(16))
               << QString::number(info.size());
    }
    return fields.join(';').toUtf8();
}

bool Write(const QString& path, const QByteArray& line) {
    if (const auto written = platform::WriteFileDurably(path, line); !written) {
        std::fprintf(stderr, "dravonelle-listing: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(written.reason()));
        return false;
    }
    return true;
}

// Writes the listing again whenever the folder or one of its files changes, half a second
// after the last change (a file being copied changes many times); runs until stopped.
int Watch(const QDir& folder, const QString& output) {
    QFileSystemWatcher watcher;
    QTimer settle;
    settle.setSingleShot(true);
    settle.setInterval(500);
    const auto rewrite = [&] {
        const QStringList files = watcher.files();
        if (!files.isEmpty()) {
            watcher.removePaths(files);
        }
        for (const QFileInfo& info : folder.entryInfoList(QDir::Files | QDir::NoDotAndDotDot)) {
            watcher.addPath(info.filePath());
        }
        // A file that cannot be read now (still being written) keeps the last listing.
        if (const auto line = Listing(folder); line && Write(output, *line)) {
            std::printf("dravonelle-listing: wrote %s\n", qPrintable(output));
            std::fflush(stdout);
        }
    };
    QObject::connect(&settle, &QTimer::timeout, rewrite);
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &settle,
                     qOverload<>(&QTimer::start));
    QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &settle,
                     qOverload<>(&QTimer::start));
    if (!watcher.addPath(folder.path())) {
        std::fprintf(stderr, "dravonelle-listing: cannot watch %s\n", qPrintable(folder.path()));
        return 1;
    }
    rewrite();
    return QCoreApplication::exec();
}

const char kHelp[] =
    "Usage: dravonelle-listing [--watch] FOLDER [OUTPUT]\n"
    "Writes the listing of a content site's folder, the line a dravonelle display\n"
    "reads to know what to fetch: name;stamp;size;... for the plain files of FOLDER,\n"
    "where the stamp is a digest of the file's content. A plain static web server\n"
    "can serve it as the site's \"dir.php\".\n"
    "\n"
    "Options:\n"
    "  FOLDER      the site's folder\n"
    "  OUTPUT      the listing's file, written durably (standard output without)\n"
    "  --watch     writes OUTPUT again whenever the folder changes\n"
    "  --help      shows this text\n"
    "  --version   shows the version\n"
    "\n"
    "Exit status:\n"
    "0 written; 1 the folder or a file cannot be read or written; 2 usage.\n";

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered =
            platform::AnswerHelpOrVersion(argc, argv, "dravonelle-listing", kHelp)) {
        return *answered;
    }
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool watch = args.removeAll(QStringLiteral("--watch")) > 0;
    if (args.isEmpty() || args.size() > 2 || args.first().startsWith('-') ||
        (watch && args.size() != 2)) {
        std::fputs("usage: dravonelle-listing [--watch] FOLDER [OUTPUT]\n", stderr);
        return 2;
    }
    QDir folder(args.first());
    if (!folder.exists()) {
        std::fprintf(stderr, "dravonelle-listing: no folder %s\n", qPrintable(args.first()));
        return 1;
    }
    if (watch) {
        return Watch(folder, args[1]);
    }
    const auto line = Listing(folder);
    if (!line) {
        return 1;
    }
    if (args.size() == 2) {
        return Write(args[1], *line) ? 0 : 1;
    }
    std::fwrite(line->constData(), 1, static_cast<size_t>(line->size()), stdout);
    return 0;
}
