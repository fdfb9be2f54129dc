// The README's site example, followed as a station follows it: Debian's nginx with the
// README's server block, the listing tool with the README's command line, and the program
// on the first-start form of its site location.
#include "support/station.h"
#include "support/test_rig.h"
#include "swf/swf.h"
#include "update/listing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A file of the demo's site: real pictures, as the display checks what it fetches.
QByteArray Demo(const QString& path) {
    QFile file(DRAVONELLE_SOURCE_DIR "/demo/site/" + path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The README's nginx server block, as it stands in the README.
QString ServerBlock(const QString& readme) {
    const QRegularExpression block(
        QStringLiteral("^( +)server \\{\\n.*?^\\1\\}$"),
        QRegularExpression::MultilineOption | QRegularExpression::DotMatchesEverythingOption);
    return block.match(readme).captured(0);
}

TEST(ReadmeSite, OneCycleFetchesEveryListedFile) {
    const QString readme = ReadText(DRAVONELLE_SOURCE_DIR "/README.md");
    const QString server = ServerBlock(readme);
    ASSERT_FALSE(server.isEmpty()) << "no nginx server block in the README";
    const auto command =
        QRegularExpression(QStringLiteral("`dravonelle-listing (--watch [^`]+)`")).match(readme);
    ASSERT_TRUE(command.hasMatch()) << "no listing command in the README";

    QTemporaryDir temp;
    const QString site = temp.path() + "/srv/site";
    // What the README says the site folder holds, and a weather banner.
    const QMap<QString, QByteArray> fixed = {
        {"test/dravonelle.swf", swf::Writer(8, QSize(800, 600), 12).Finish()},
        {"test/flash.txt", "tekst=Welkom\n"},
        {"freedata/meerdaagsebanner.jpg", Demo("freedata/meerdaagsebanner.jpg")},
    };
    const QMap<QString, QByteArray> photos = {
        {"zomermarkt.jpg", Demo("test/fotos/zomermarkt.jpg")},
        {"kerkplein.png", Demo("test/fotos/kerkplein.png")},
        {"nieuws.swf", swf::Writer(8, QSize(800, 600), 12).Finish(true)},
    };
    for (auto it = fixed.cbegin(); it != fixed.cend(); ++it) {
        ASSERT_TRUE(WriteFile(site + '/' + it.key(), it.value()));
    }
    for (auto it = photos.cbegin(); it != photos.cend(); ++it) {
        ASSERT_TRUE(WriteFile(site + "/test/fotos/" + it.key(), it.value()));
    }

    QProcess listing;
    listing.start(DRAVONELLE_LISTING_TOOL,
                  command.captured(1).replace("/srv/site", site).split(' ', Qt::SkipEmptyParts));
    const QString listingFile = command.captured(1).split(' ').last().replace("/srv/site", site);
    ASSERT_TRUE(PumpUntil(
        [&] { return update::SplitListing(ReadText(listingFile)).size() == 3 * photos.size(); },
        10000))
        << "the listing tool wrote no listing of the photos at " << listingFile.toStdString();

    const quint16 port = FreePort();
    QString block = server;
    block.replace("/srv/site", site)
        .replace("listen 80;", QStringLiteral("listen 127.0.0.1:%1;").arg(port));
    const QString state = temp.path() + "/nginx";
    QDir().mkpath(state);
    QString conf = QStringLiteral(
        "daemon off; master_process off; pid STATE/nginx.pid; error_log STATE/error.log;\n"
        "events { worker_connections 64; }\n"
        "http {\n access_log STATE/access.log;\n client_body_temp_path STATE/body;\n"
        " proxy_temp_path STATE/proxy; fastcgi_temp_path STATE/fastcgi;\n"
        " uwsgi_temp_path STATE/uwsgi; scgi_temp_path STATE/scgi;\n");
    conf.replace("STATE", state);
    conf += block + "\n}\n";
    ASSERT_TRUE(WriteFile(state + "/nginx.conf", conf.toUtf8()));
    QProcess nginx;
    nginx.setProcessChannelMode(QProcess::MergedChannels);
    nginx.start("nginx", {"-p", state, "-e", state + "/error.log", "-c", state + "/nginx.conf"});
    ASSERT_TRUE(nginx.waitForStarted(10000));
    ASSERT_TRUE(PumpUntil(
        [&] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(200) || nginx.state() == QProcess::NotRunning;
        },
        10000));
    ASSERT_EQ(nginx.state(), QProcess::Running)
        << nginx.readAll().toStdString() << ReadText(state + "/error.log").toStdString();

    Station station;
    station.settings["endpoints/site_host"] = QStringLiteral("127.0.0.1:%1").arg(port);
    station.settings["endpoints/weather_url"] =
        QStringLiteral("http://127.0.0.1:%1/freedata/meerdaagsebanner.jpg").arg(port);
    station.settings["endpoints/radio_url"] = "http://127.0.0.1:9/radio.asx";
    station.Start({{"QT_QPA_PLATFORM", "offscreen"}});
    const QString content = station.DriveFolder() + "/fileftp/";
    const auto arrived = [&] {
        for (auto it = photos.cbegin(); it != photos.cend(); ++it) {
            QFile file(content + "fotos/" + it.key());
            if (!file.open(QIODevice::ReadOnly) || file.readAll() != it.value()) {
                return false;
            }
        }
        return QFileInfo(content + "weerbericht.jpg").size() ==
                   fixed["freedata/meerdaagsebanner.jpg"].size() &&
               ReadText(content + "flash.txt") == "tekst=Welkom\n";
    };
    EXPECT_TRUE(PumpUntil([&] { return arrived() || !station.Running(); }, 60000) && arrived())
        << "program " << station.State().toStdString() << "\nnginx:\n"
        << ReadText(state + "/access.log").toStdString() << "\nlog:\n"
        << station.Log().right(3000).toStdString();
    station.Stop();
    EXPECT_EQ(
        QSettings(station.Folder() + "/config/dravonelle/dravonelle.conf", QSettings::IniFormat)
            .value("main/lokatie")
            .toString(),
        QStringLiteral("http://127.0.0.1:%1/test").arg(port));
    const QString access = ReadText(state + "/access.log");
    EXPECT_TRUE(access.contains(QRegularExpression("GET /testdir\\.php\\?a=\\S+ HTTP/1\\.1\" 200")))
        << access.toStdString();
    EXPECT_FALSE(access.contains("\" 404 ")) << access.toStdString();

    listing.terminate();
    listing.waitForFinished(5000);
    nginx.terminate();
    nginx.waitForFinished(5000);
}

}  // namespace
