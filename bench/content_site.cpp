#include "content_site.h"

#include "bench_support.h"
#include "window/form1.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTcpServer>
#include <QThread>

#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <random>

#include <sys/resource.h>

namespace bench {

namespace {

QByteArray Jpeg(int width, int height, quint32 seed) {
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint32 r = random();
            line[x] =
                qRgb((x + (r & 0x3f)) & 0xff, (y + ((r >> 8) & 0x3f)) & 0xff, (r >> 16) & 0xff);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 95);
    return bytes;
}

QByteArray PictureOfAbout(qint64 size, quint32 seed) {
    static const double bytesPerPixel = Jpeg(256, 256, 1).size() / 65536.0;
    const double pixels = std::max(64.0 * 64.0, size / bytesPerPixel);
    const int width = static_cast<int>(std::sqrt(pixels * 4 / 3));
    return Jpeg(width, std::max(8, static_cast<int>(pixels / width)), seed);
}

}  // namespace

qint64 WriteFile(const QString& path, qint64 size) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    if (path.endsWith(QLatin1String(".jpg"))) {
        return file.write(PictureOfAbout(size, static_cast<quint32>(qHash(path))));
    }
    if (path.endsWith(QLatin1String(".swf"))) {
        return file.write(BarMovie(std::max<qint64>(2, size / 200), 25));
    }
    QByteArray block(1 << 20, 'd');
    for (qint64 left = size; left > 0; left -= block.size()) {
        file.write(block.constData(), std::min<qint64>(left, block.size()));
    }
    return size;
}

bool Site::Start(bool withFaults) {
    if (!withFaults && QFile::exists("/usr/sbin/nginx")) {
        return StartNginx();
    }
    server.setProgram("python3");
    server.setArguments({BENCH_CONTENT_SITE, Www()});
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start();
    if (!server.waitForReadyRead(10000)) {
        return false;
    }
    port = server.readLine().trimmed().toUShort();
    std::fprintf(stderr, "server: python http.server\n");
    return port != 0;
}

bool Site::StartNginx() {
    QTcpServer probe;  // a free port
    probe.listen(QHostAddress::LocalHost, 0);
    port = probe.serverPort();
    probe.close();
    QFile conf(dir.path() + "/nginx.conf");
    conf.open(QIODevice::WriteOnly);
    conf.write(
        QString("daemon off; worker_processes 1; pid %1/nginx.pid;\n"
                "error_log %1/error.log; events {}\n"
                "http { access_log off; sendfile on; default_type application/octet-stream;\n"
                "  client_body_temp_path %1; proxy_temp_path %1; fastcgi_temp_path %1;\n"
                "  uwsgi_temp_path %1; scgi_temp_path %1;\n"
                "  server { listen 127.0.0.1:%2; root %3; } }\n")
            .arg(dir.path())
            .arg(port)
            .arg(Www())
            .toUtf8());
    conf.close();
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start("/usr/sbin/nginx", {"-c", conf.fileName(), "-p", dir.path()});
    if (!bench::PortAnswers(port, 10000)) {
        return false;
    }
    std::fprintf(stderr, "server: nginx\n");
    return true;
}

Site::~Site() {
    // nginx's master stops its worker on TERM; killed outright, it would leave the worker
    // running, holding the port, after the benchmark.
    server.terminate();
    if (!server.waitForFinished(10000)) {
        server.kill();
        server.waitForFinished();
    }
}

QStringList MakeSite(Site& site, const QList<qint64>& sizes) {
    QDir().mkpath(site.Www() + "/test/fotos");
    QDir().mkpath(site.Www() + "/freedata");
    WriteFile(site.Www() + "/test/flash.txt", 100);
    WriteFile(site.Www() + "/test/dravonelle.swf", 50000);
    WriteFile(site.Www() + "/freedata/meerdaagsebanner.jpg", 20000);
    QStringList fields, paths;
    for (int i = 0; i < sizes.size(); ++i) {
        const QString name = QString("file%1.jpg").arg(i, 3, 10, QChar('0'));
        const qint64 size = WriteFile(site.Www() + "/test/fotos/" + name, sizes[i]);
        fields << name << "1" << QString::number(size);
        paths << "/test/fotos/" + name;
    }
    QFile listing(site.Www() + "/testdir.php");
    listing.open(QIODevice::WriteOnly);
    listing.write(fields.join(';').toUtf8());
    return QStringList({"/test/flash.txt", "/test/dravonelle.swf", "/testdir.php"}) + paths +
           QStringList({"/freedata/meerdaagsebanner.jpg"});
}

std::unique_ptr<Form1> CycleWindow(const Site& site, const QString& driveFolder) {
    const QString base = "http://127.0.0.1:" + QString::number(site.port);
    auto form = std::make_unique<Form1>(
        RealPlatform(driveFolder,
                     {"127.0.0.1:" + QString::number(site.port),
                      base + "/freedata/meerdaagsebanner.jpg", base + "/radio.asx"},
                     0));
    (void)form->Form_Load();
    form->Lokatie->setText(base + "/test");
    return form;
}

// curl fetching every address into a file of its own; with `thenSync`, followed by
// sync(1) of those files, so that both sides have put the same bytes on the disk.
Usage RunCurl(quint16 port, const QStringList& paths, bool thenSync) {
    QTemporaryDir out;
    QStringList args = {"-s", "-f"}, written;
    int i = 0;
    for (const QString& path : paths) {
        written << out.path() + "/" + QString::number(i++);
        args << "-o" << written.last() << "http://127.0.0.1:" + QString::number(port) + path;
    }
    QProcess curl, sync;
    const double wall = Now(), cpu = CpuSeconds(RUSAGE_CHILDREN);
    curl.start("curl", args);
    curl.waitForFinished(-1);
    if (thenSync) {
        sync.start("sync", written);
        sync.waitForFinished(-1);
    }
    return {Now() - wall, CpuSeconds(RUSAGE_CHILDREN) - cpu};
}

QList<qint64> MixedSizes(int files, qint64 total) {
    std::mt19937 random(7);
    QList<double> weights;
    double sum = 0;
    for (int i = 0; i < files; ++i) {
        const double w = std::exp(std::uniform_real_distribution<double>(0, 6)(random));
        weights << w;
        sum += w;
    }
    QList<qint64> sizes;
    for (double w : weights) {
        sizes << std::max<qint64>(1, static_cast<qint64>(w / sum * total));
    }
    return sizes;
}

}  // namespace bench
