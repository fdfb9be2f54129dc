// dravonelle-listing: writes the content site's listing of a folder.
//
//   dravonelle-listing FOLDER [OUTPUT]
//
// The listing is one line, name;stamp;size;name;stamp;size;... without commas, for the
// plain files of FOLDER (the site's "/fotos/" folder). The stamp is a digest of the
// file's content, so it changes whenever the file changes. Written to OUTPUT (in one
// step, so a web server never serves half a listing) or to standard output. A plain
// static server can serve it as the site's "dir.php".
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.size() > 2 || args.first().startsWith('-')) {
        std::fputs("usage: dravonelle-listing FOLDER [OUTPUT]\n", stderr);
        return 2;
    }
    QDir folder(args.first());
    if (!folder.exists()) {
        std::fprintf(stderr, "dravonelle-listing: no folder %s\n", qPrintable(args.first()));
        return 1;
    }
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
            return 1;
        }
        fields << name << QString::fromLatin1(hash.result().toHex().left(16))
               << QString::number(info.size());
    }
    const QByteArray line = fields.join(';').toUtf8();
    if (args.size() == 2) {
        QSaveFile out(args[1]);
        if (!out.open(QIODevice::WriteOnly) || out.write(line) != line.size() || !out.commit()) {
            std::fprintf(stderr, "dravonelle-listing: cannot write %s\n", qPrintable(args[1]));
            return 1;
        }
    } else {
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    }
    return 0;
}
