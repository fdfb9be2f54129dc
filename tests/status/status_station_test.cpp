// A running display watched as a station watches it: its screenshot, its page in a real
// browser, and a real Prometheus server scraping it.
#include "support/station.h"
#include "support/test_rig.h"
#include "swf/swf.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <array>

#include <gtest/gtest.h>

namespace {

const QColor kBackground(30, 120, 60);

// A plain GET on loopback; the body, or empty.
QByteArray Fetch(quint16 port, const QString& path, int ms = 10000) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!PumpUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }, ms)) {
        return {};
    }
    socket.write("GET " + path.toUtf8() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray reply;
    PumpUntil(
        [&] {
            reply += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        ms);
    reply += socket.readAll();
    return reply.startsWith("HTTP/1.") && reply.mid(9, 3) == "200"
               ? reply.mid(reply.indexOf("\r\n\r\n") + 4)
               : QByteArray();
}

QString Output(const QString& program, const QStringList& args, int ms = 60000) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished();
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Starts the program on `x` with a main movie of kBackground, no site, and its status on
// `port`.
void StartWithMovie(Station& station, const XServer& x, quint16 port) {
    swf::Writer w(8, QSize(800, 600), 12);
    w.SetBackground(kBackground);
    w.ShowFrame();
    station.WriteDriveFile("fileftp/dravonelle.swf", w.Finish(true));
    station.NoSite();
    station.settings["system/status_port"] = QString::number(port);
    station.Start({{"DISPLAY", x.Display()}, {"QT_QPA_PLATFORM", "xcb"}});
}

class StatusStation : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(x.Started());
        StartWithMovie(station, x, port);
        ASSERT_TRUE(
            PumpUntil([&] { return station.Log().contains("status server listening"); }, 60000))
            << station.Log().toStdString();
    }
    XServer x{QSize(1280, 720)};
    Station station;
    quint16 port = FreePort();
};

}  // namespace

// The screenshot is the picture on the screen: the main movie's colour all over it.
TEST_F(StatusStation, ScreenshotShowsTheMovieOnTheScreen) {
    QImage shot;
    ASSERT_TRUE(PumpUntil(
        [&] {
            shot = QImage::fromData(Fetch(port, "/screenshot.png"), "PNG");
            return !shot.isNull() && QColor(shot.pixel(640, 360)) == kBackground;
        },
        60000))
        << (shot.isNull() ? "no picture" : QColor(shot.pixel(640, 360)).name().toStdString());
    EXPECT_EQ(shot.size(), QSize(1280, 720));
    EXPECT_EQ(QColor(shot.pixel(1200, 700)), kBackground);
    EXPECT_FALSE(shot.text("Creation Time").isEmpty());
    const QImage thumb = QImage::fromData(Fetch(port, "/screenshot.jpg?w=320"), "JPG");
    EXPECT_EQ(thumb.width(), 320);
}

// Debian's Chromium reads the state from the page; it is the state /status gives.
TEST_F(StatusStation, PageInARealBrowserShowsTheState) {
    if (QStandardPaths::findExecutable("chromium").isEmpty()) {
        GTEST_SKIP() << "chromium is not installed";
    }
    const auto state = [&] {
        return QJsonDocument::fromJson(Fetch(port, "/status")).object()["state"].toString();
    };
    const QString before = state();
    ASSERT_FALSE(before.isEmpty());
    QTemporaryDir profile;
    // Without its background traffic, which a machine without a network can hold up, and
    // with a bound on the page's load (past it the page is taken as it stands).
    const QString dom =
        Output("chromium",
               {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-quic", "--timeout=15000", "--user-data-dir=" + profile.path(),
                "--dump-dom", QStringLiteral("http://127.0.0.1:%1/").arg(port)});
    const QString after = state();  // the state may change while the browser starts
    const auto shows = [&](const QString& s) {
        return dom.contains(QStringLiteral("id=\"state\" class=\"%1\">%1<").arg(s));
    };
    EXPECT_TRUE(shows(before) || shows(after)) << dom.left(2000).toStdString();
    // Each figure of the fleet's row, labelled; the main movie's frame in words; times in
    // the display's local time with how long ago.
    for (const char* label :
         {"<th>On air</th>", "<th>Last update</th>", "<th>Disk free</th>", "<th>Memory</th>",
          "<th>Up</th>", "<th>Version</th>", "<th>Last warnings</th>", "kept free:", " MiB</td>",
          "s ago)", "name=\"viewport\"", "http-equiv=\"refresh\""}) {
        EXPECT_TRUE(dom.contains(label)) << label;
    }
    EXPECT_TRUE(dom.contains(QRegularExpression("main: dravonelle.swf, frame \\d+ of \\d+")))
        << dom.toStdString();
    // As a desk and a phone show it, for a person to look at.
    for (const auto& [name, size] :
         {std::pair{"status_page_desk.png", "1280,1000"}, {"status_page_phone.png", "390,1400"}}) {
        Output("chromium",
               {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-quic", "--timeout=15000", "--hide-scrollbars",
                "--user-data-dir=" + profile.path(), "--window-size=" + QString(size),
                "--screenshot=" + QDir::current().filePath(name),
                QStringLiteral("http://127.0.0.1:%1/").arg(port)});
        EXPECT_FALSE(QImage(name).isNull()) << name;
    }
}

// A real Prometheus server scrapes the display on loopback, and a query gives its figure.
TEST_F(StatusStation, PrometheusScrapesTheDisplay) {
    if (QStandardPaths::findExecutable("prometheus").isEmpty()) {
        GTEST_SKIP() << "prometheus is not installed";
    }
    QTemporaryDir dir;
    const quint16 web = FreePort();
    QFile config(dir.path() + "/prometheus.yml");
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global:\n  scrape_interval: 1s\nscrape_configs:\n"
                                "  - job_name: display\n    static_configs:\n"
                                "      - targets: ['127.0.0.1:%1']\n")
                     .arg(port)
                     .toUtf8());
    config.close();
    QProcess prometheus;
    prometheus.setProcessChannelMode(QProcess::MergedChannels);
    prometheus.start("prometheus",
                     {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.path(),
                      QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(web)});
    QString value;
    const bool answered = PumpUntil(
        [&] {
            const QJsonObject answer =
                QJsonDocument::fromJson(
                    Fetch(web, "/api/v1/query?query=dravonelle_memory_ceiling_bytes", 2000))
                    .object();
            const QJsonArray result = answer["data"].toObject()["result"].toArray();
            if (result.isEmpty()) {
                return false;
            }
            value = result.first().toObject()["value"].toArray().last().toString();
            return true;
        },
        90000);
    prometheus.terminate();
    prometheus.waitForFinished(10000);
    ASSERT_TRUE(answered) << prometheus.readAll().right(2000).toStdString();
    EXPECT_EQ(value, QString::number(2048.0 * 1048576, 'f', 0));
}

// The fleet tool asks two running displays and an address where nothing answers: a row
// each, their screenshots and a contact sheet, and a status that says not all is well.
TEST(Fleet, TableOfEveryDisplayAndOneThatDoesNotAnswer) {
    std::array<Station, 2> displays;
    QStringList hosts;
    for (Station& display : displays) {
        const quint16 port = FreePort();
        display.settings["system/status_port"] = QString::number(port);
        display.NoSite();
        display.Start({{"QT_QPA_PLATFORM", "offscreen"}});
        hosts << QStringLiteral("127.0.0.1:%1").arg(port);
    }
    for (Station& display : displays) {
        ASSERT_TRUE(
            PumpUntil([&] { return display.Log().contains("status server listening"); }, 60000))
            << display.Log().toStdString();
    }
    hosts << QStringLiteral("127.0.0.1:%1  # nothing here").arg(FreePort());
    QTemporaryDir dir;
    QFile file(dir.path() + "/hosts");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(("# the station\n" + hosts.join('\n') + '\n').toUtf8());
    file.close();
    QProcess fleet;
    fleet.start(DRAVONELLE_FLEET_TOOL,
                {"--hosts", file.fileName(), "--timeout", "5", "--shots", dir.path() + "/shots"});
    ASSERT_TRUE(fleet.waitForFinished(60000));
    const QString table = QString::fromUtf8(fleet.readAllStandardOutput());
    EXPECT_EQ(fleet.exitCode(), 1) << table.toStdString();
    const QStringList lines = table.split('\n', Qt::SkipEmptyParts);
    for (int i = 0; i < 3; ++i) {
        const QString name = hosts[i].section(' ', 0, 0);
        const auto row = std::find_if(lines.begin(), lines.end(),
                                      [&](const QString& l) { return l.startsWith(name); });
        ASSERT_NE(row, lines.end()) << table.toStdString();
        EXPECT_EQ(row->contains("NO ANSWER"), i == 2) << row->toStdString();
        EXPECT_EQ(
            QFileInfo::exists(dir.path() + "/shots/127.0.0.1_" + name.section(':', 1) + ".jpg"),
            i < 2);
    }
    EXPECT_FALSE(QImage(dir.path() + "/shots/contact.jpg").isNull());
}

// With the site's address, the fleet tool marks behind a display whose listing is not the
// site's: the same listing is not behind, a changed one on the site puts it behind, and a
// display that read none cannot say.
TEST(Fleet, BehindIsMeasuredAgainstTheSitesListing) {
    QTemporaryDir site;
    const auto writeListing = [&](const QByteArray& line) {
        QFile file(site.path() + "/dir.php");
        return file.open(QIODevice::WriteOnly) && file.write(line) == line.size();
    };
    ASSERT_TRUE(writeListing("a.jpg;1;3\r\n"));
    const quint16 web = FreePort();
    QProcess server;
    server.start("python3", {"-m", "http.server", "--bind", "127.0.0.1", "--directory", site.path(),
                             QString::number(web)});
    ASSERT_TRUE(server.waitForStarted(10000));
    ASSERT_TRUE(PumpUntil([&] { return !Fetch(web, "/dir.php", 1000).isEmpty(); }, 20000));
    const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(web);

    std::array<Station, 2> displays;
    std::array<quint16, 2> ports{FreePort(), FreePort()};
    displays[1].NoSite();
    displays[0].NoSite();
    displays[0].settings["main/lokatie"] = address;
    for (int i = 0; i < 2; ++i) {
        displays[i].settings["system/status_port"] = QString::number(ports[i]);
        displays[i].Start({{"QT_QPA_PLATFORM", "offscreen"}});
    }
    // The behind column of each display's row.
    const auto behind = [&] {
        QStringList args{"--site", address, "--timeout", "5"};
        for (const quint16 port : ports) {
            args << "--host" << QStringLiteral("127.0.0.1:%1").arg(port);
        }
        const QStringList lines = Output(DRAVONELLE_FLEET_TOOL, args).split('\n');
        QStringList column;
        for (const quint16 port : ports) {
            const QString name = QStringLiteral("127.0.0.1:%1").arg(port);
            const auto row = std::find_if(lines.begin(), lines.end(),
                                          [&](const QString& l) { return l.startsWith(name); });
            column << (row == lines.end() || row->contains("NO ANSWER")
                           ? QString()
                           : row->mid(24 + 1 + 13 + 1 + 30 + 1 + 16 + 1, 7).trimmed());
        }
        return column;
    };
    QStringList seen;
    EXPECT_TRUE(PumpUntil(
        [&] {
            seen = behind();
            return seen == QStringList{"no", "?"};
        },
        90000))
        << seen.join(',').toStdString();
    ASSERT_TRUE(writeListing("a.jpg;2;3\r\n"));
    EXPECT_EQ(behind(), (QStringList{"YES", "?"}));
    server.kill();
    server.waitForFinished();
}

// The hidden inserted-movie player's design-time movie draws no frame while hidden; that
// is noted in the log and is no warning of a healthy display.
TEST_F(StatusStation, HiddenPlayersMovieIsNoWarning) {
    PumpUntil([&] { return station.Log().contains("in a hidden player cannot be played"); }, 30000);
    const QJsonArray warnings =
        QJsonDocument::fromJson(Fetch(port, "/status")).object()["warnings"].toArray();
    for (const QJsonValue warning : warnings) {
        EXPECT_FALSE(warning.toString().contains("cannot be played") ||
                     warning.toString().contains("flash page state"))
            << warning.toString().toStdString();
    }
}

// What a station sees when the main movie on the disk is a page at a start: the main movie
// that played well before is kept, and it fills the screen instead. Once the program's
// window is up the screen is never black, and /status names the file and the reason.
TEST(LastGoodStation, KeptMainMovieFillsTheScreenWhenTheMainMovieIsAPage) {
    XServer x{QSize(1280, 720)};
    ASSERT_TRUE(x.Started());
    Station station;
    const quint16 port = FreePort();
    StartWithMovie(station, x, port);
    // Played well for 30 s from its first frame: kept, beside the content folder.
    const QDir kept(station.DriveFolder() + "/dravonelle/lastgood");
    ASSERT_TRUE(
        PumpUntil([&] { return !kept.entryList({"*.swf"}, QDir::Files).isEmpty(); }, 120000))
        << station.Log().toStdString();
    station.Stop();

    station.WriteDriveFile("fileftp/dravonelle.swf",
                           "<!DOCTYPE html><html><body>Onderhoud</body></html>");
    QElapsedTimer clock;
    clock.start();
    station.Start({{"DISPLAY", x.Display()}, {"QT_QPA_PLATFORM", "xcb"}});
    qint64 told = -1, filled = -1, firstPicture = -1, blackAfter = 0;
    PumpUntil(
        [&] {
            if (told < 0 && QJsonDocument::fromJson(Fetch(port, "/status", 1000))
                                .object()["reasons"]
                                .toVariant()
                                .toStringList()
                                .join(" ")
                                .contains("main movie dravonelle.swf cannot be played (an "
                                          "HTML page, not a Flash movie)")) {
                told = clock.elapsed();
            }
            const QImage screen = x.Grab().scaled(64, 36);
            bool black = true;
            for (int y = 0; y < screen.height() && black; ++y) {
                for (int x0 = 0; x0 < screen.width() && black; ++x0) {
                    black = qGray(screen.pixel(x0, y)) <= 16;
                }
            }
            if (!black && firstPicture < 0) {
                firstPicture = clock.elapsed();
            }
            blackAfter += black && firstPicture >= 0 ? 1 : 0;
            if (filled < 0 && QColor(screen.pixel(32, 18)) == kBackground &&
                QColor(screen.pixel(60, 33)) == kBackground) {
                filled = clock.elapsed();
            }
            return told >= 0 && filled >= 0;
        },
        90000);
    std::printf(
        "window's first picture after %lld ms, the kept movie on the whole screen after "
        "%lld ms, the cause in /status after %lld ms\n",
        static_cast<long long>(firstPicture), static_cast<long long>(filled),
        static_cast<long long>(told));
    EXPECT_GE(filled, 0) << station.Log().toStdString();
    EXPECT_GE(told, 0) << Fetch(port, "/status").toStdString();
    EXPECT_EQ(blackAfter, 0) << "black grabs after the window's first picture";
    EXPECT_EQ(QJsonDocument::fromJson(Fetch(port, "/status")).object()["state"].toString(),
              "DEGRADED");
}
