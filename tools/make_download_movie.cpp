// Writes the connecting screen, download.swf, at build time.
#include "swf/download_movie.h"

#include <QFile>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_download_movie OUTPUT\n", stderr);
        return 2;
    }
    QFile out(QString::fromLocal8Bit(argv[1]));
    const QByteArray movie = swf::DownloadMovie();
    if (!out.open(QIODevice::WriteOnly) || out.write(movie) != movie.size()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
