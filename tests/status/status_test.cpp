#include "asrun/asrun.h"
#include "platform/http/qt_status_server.h"
#include "platform/qt/asrun_file_log.h"
#include "platform/qt/subnet_filter.h"
#include "support/test_rig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Exchange {
    QByteArray reply;
    bool closed = false;
};

// Sends `request` and collects what comes back until the server closes or `ms` pass.
Exchange Ask(quint16 port, const QByteArray& request, int ms = 5000) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    Exchange e;
    if (!PumpUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }, ms)) {
        return e;
    }
    socket.write(request);
    e.closed = PumpUntil(
        [&] {
            e.reply += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        ms);
    e.reply += socket.readAll();
    return e;
}

QByteArray Get(quint16 port, const QString& path) {
    return Ask(port, "GET " + path.toUtf8() + " HTTP/1.1\r\nHost: display\r\n\r\n").reply;
}

QByteArray Body(const QByteArray& reply) {
    return reply.mid(reply.indexOf("\r\n\r\n") + 4);
}

}  // namespace

// The server's own bounds: what is not a GET, a head too large or too slow, too many
// connections and a peer the list refuses never reach the program.
TEST(StatusServer, AnswersOnlyWhatItsBoundsLetThrough) {
    int asked = 0;
    const auto echo = [&](const platform::HttpRequest& request,
                          platform::StatusServer::Reply reply) {
        ++asked;
        reply(platform::HttpAnswer::Text(200,
                                         (request.path + '?' + request.query.value("w")).toUtf8()));
    };
    platform::QtStatusServer::Limits limits;
    limits.maxConnections = 2;
    limits.headTimeoutMs = 300;
    platform::QtStatusServer server(nullptr, limits);  // loopback only
    const auto port = server.Listen(0, echo);
    ASSERT_TRUE(port) << port.reason().toStdString();

    struct Case {
        const char* what;
        QByteArray request;
        QByteArray starts;  // what the answer starts with; empty: closed without one
        int handled;
    } cases[] = {
        {"a GET", "GET /status?w=12&x=1 HTTP/1.1\r\nHost: a\r\n\r\n", "HTTP/1.1 200", 1},
        {"a POST", "POST /status HTTP/1.1\r\nHost: a\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405",
         0},
        {"no request line", "HELLO\r\n\r\n", "HTTP/1.1 400", 0},
        {"a GET of no path", "GET status HTTP/1.1\r\n\r\n", "HTTP/1.1 400", 0},
        {"a head too large", "GET /status HTTP/1.1\r\nX: " + QByteArray(9000, 'x') + "\r\n\r\n",
         "HTTP/1.1 400", 0},
        {"a head that never ends", "GET /status HTTP/1.1\r\nHost: a\r\n", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        asked = 0;
        const Exchange e = Ask(*port, c.request);
        EXPECT_TRUE(e.closed);
        EXPECT_TRUE(c.starts.isEmpty() ? e.reply.isEmpty() : e.reply.startsWith(c.starts))
            << e.reply.left(200).toStdString();
        EXPECT_EQ(asked, c.handled);
    }
    EXPECT_EQ(Body(Get(*port, "/status?w=12")), "/status?12\n");

    // Two connections that say nothing take the room; a third is closed at once.
    QTcpSocket first, second;
    first.connectToHost(QHostAddress::LocalHost, *port);
    second.connectToHost(QHostAddress::LocalHost, *port);
    ASSERT_TRUE(PumpUntil([&] {
        return first.state() == QAbstractSocket::ConnectedState &&
               second.state() == QAbstractSocket::ConnectedState;
    }));
    PumpUntil([] { return false; }, 100);
    const Exchange third = Ask(*port, "GET /status HTTP/1.1\r\n\r\n", 1000);
    EXPECT_TRUE(third.closed && third.reply.isEmpty());

    // A peer the allow-list does not name is closed unread, once the list has said no.
    struct CountingFilter : platform::AddressFilter {
        platform::SubnetFilter list{"10.0.0.0/8"};
        mutable int refused = 0;
        bool Allows(const QString& address) const override {
            const bool allowed = list.Allows(address);
            refused += allowed ? 0 : 1;
            return allowed;
        }
    };
    auto filter = std::make_unique<CountingFilter>();
    const CountingFilter* counting = filter.get();
    platform::QtStatusServer strict(std::move(filter), limits);
    const auto strictPort = strict.Listen(0, echo);
    ASSERT_TRUE(strictPort);
    asked = 0;
    const Exchange refused = Ask(*strictPort, "GET /status HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(refused.closed && refused.reply.isEmpty());
    EXPECT_EQ(counting->refused, 1);
    EXPECT_EQ(asked, 0);
}

// The display's answers: its state and reasons, what is on air, metrics that Prometheus'
// own checker accepts, and 400 or 404 for what it does not know.
TEST(StatusServer, DisplayTellsItsStateAndWhatIsOnAir) {
    const quint16 port = FreePort();
    TestRig::Options options;
    options.customize = [port](platform::Platform& p) {
        p.statusServer = std::make_unique<platform::QtStatusServer>();
        p.statusPort = port;
    };
    TestRig rig(options);
    rig.Load();
    const auto status = [&] {
        return QJsonDocument::fromJson(Body(Get(port, "/status"))).object();
    };
    QJsonObject json = status();
    EXPECT_EQ(json["state"].toString(), "FAULT");
    EXPECT_TRUE(json["reasons"].toArray().first().toString().startsWith("no main movie"));

    rig.WriteDriveFile("c:\\fileftp\\dravonelle.swf", "FWS");
    rig.form->ShockwaveFlash1_FSCommand("radio", "");
    json = status();
    EXPECT_EQ(json["state"].toString(), "OK") << QJsonDocument(json).toJson().toStdString();
    EXPECT_EQ(json["on_air"].toObject()["radio"].toObject()["name"].toString(),
              rig.form->Platform().endpoints.radioUrl);
    EXPECT_TRUE(json["radio"].toObject()["playing"].toBool());
    EXPECT_GT(json["content"].toObject()["free_bytes"].toDouble(), 0);
    rig.form->TxttijdUit->setText("23:59");
    const QDateTime next = QDateTime::fromString(
        status()["power_off"].toObject()["next"].toString(), Qt::ISODateWithMs);
    ASSERT_TRUE(next.isValid())
        << QJsonDocument(status()["power_off"].toObject()).toJson().toStdString();
    EXPECT_EQ(next.time(), QTime(23, 59));
    EXPECT_GT(next, QDateTime::currentDateTime());
    EXPECT_LE(next, QDateTime::currentDateTime().addDays(1));

    const QByteArray metrics = Body(Get(port, "/metrics"));
    EXPECT_TRUE(metrics.contains("dravonelle_items_started_total{kind=\"radio\"} 1\n"));
    EXPECT_TRUE(metrics.contains("dravonelle_state{state=\"OK\"} 1\n"));
    EXPECT_TRUE(metrics.contains(QStringLiteral("dravonelle_build_info{version=\"%1\"} 1\n")
                                     .arg(rig.form->Platform().version)
                                     .toUtf8()))
        << metrics.toStdString();
    if (!QStandardPaths::findExecutable("promtool").isEmpty()) {
        QProcess check;
        check.start("promtool", {"check", "metrics"});
        check.write(metrics);
        check.closeWriteChannel();
        ASSERT_TRUE(check.waitForFinished(20000));
        EXPECT_EQ(check.exitCode(), 0);
        EXPECT_EQ(check.readAll(), "") << "promtool";
    } else {
        ADD_FAILURE() << "promtool is missing (Debian's prometheus)";
    }

    for (const auto& [path, code] : {std::pair<QString, QByteArray>{"/nothing", "404"},
                                     {"/asrun/../etc", "404"},
                                     {"/screenshot.jpg?w=wide", "400"},
                                     {"/screenshot.jpg?w=-4", "400"}}) {
        EXPECT_TRUE(Get(port, path).startsWith("HTTP/1.1 " + code)) << path.toStdString();
    }
    const QByteArray page = Body(Get(port, "/"));
    EXPECT_TRUE(page.contains("id=\"state\" class=\"OK\">OK<")) << page.toStdString();

    // A cycle whose site lists nothing is told by its result, in all three answers.
    rig.form->UpdateContent();
    json = status();
    EXPECT_EQ(json["last_cycle"].toObject()["result"].toString(), "no listing");
    EXPECT_TRUE(json["reasons"].toArray().contains("last update cycle: no listing"))
        << QJsonDocument(json).toJson().toStdString();
    const QByteArray after = Body(Get(port, "/metrics"));
    EXPECT_TRUE(after.contains("dravonelle_update_cycles_total{result=\"no listing\"} 1\n"));
    EXPECT_TRUE(after.contains("dravonelle_update_cycles_total{result=\"ok\"} 0\n"))
        << after.toStdString();
}

// The README's Prometheus configuration and alert rules are what Prometheus accepts.
// A radio whose stream stays away is one as-run item for the whole outage, ended as failed
// with the player's reason; its retries are counted in the status and the metrics until it
// plays again, when a new item starts.
TEST(StatusServer, RadioOutageIsOneItemAndItsRetriesAreCounted) {
    const quint16 port = FreePort();
    QTemporaryDir temp;
    const QString folder = temp.path() + "/asrun";
    TestRig::Options options;
    options.customize = [&](platform::Platform& p) {
        p.statusServer = std::make_unique<platform::QtStatusServer>();
        p.statusPort = port;
        platform::AsRunFileLog::Options log;
        log.folder = folder;
        p.asrun = std::make_unique<platform::AsRunFileLog>(log);
    };
    auto rig = std::make_unique<TestRig>(options);
    rig->Load();
    Form1& form = *rig->form;
    const auto drop = [&](const QString& reason) {
        form.MediaPlayer1_MediaError(reason);
        form.MediaPlayer1_PlayStateChange(platform::kStopped);
    };
    form.ShockwaveFlash1_FSCommand("radio", "");
    drop("no answer within 10000 ms");
    for (int retry = 0; retry < 3; ++retry) {
        form.RadioaanTimer_Timer();  // the restart two seconds later
        drop("Connection refused");
    }
    const QJsonObject radio =
        QJsonDocument::fromJson(Body(Get(port, "/status"))).object()["radio"].toObject();
    EXPECT_EQ(radio["retries"].toInt(), 3);
    EXPECT_EQ(radio["last_reason"].toString(), "Connection refused");
    QByteArray metrics = Body(Get(port, "/metrics"));
    EXPECT_TRUE(metrics.contains("dravonelle_radio_retries_total 3\n")) << metrics.toStdString();
    EXPECT_TRUE(
        metrics.contains("dravonelle_radio_outage_retries{reason=\"Connection refused\"} 3\n"));

    form.RadioaanTimer_Timer();
    form.MediaPlayer1_PlayStateChange(platform::kPlaying);
    metrics = Body(Get(port, "/metrics"));
    EXPECT_TRUE(metrics.contains("dravonelle_radio_retries_total 4\n"));
    EXPECT_FALSE(metrics.contains("dravonelle_radio_outage_retries{"));
    EXPECT_TRUE(metrics.contains("dravonelle_items_started_total{kind=\"radio\"} 2\n"));
    form.close();
    rig.reset();

    QFile day(folder + '/' + asrun::DayFileName(QDate::currentDate()));
    ASSERT_TRUE(day.open(QIODevice::ReadOnly));
    QStringList radioEnds;
    for (const QByteArray& line : asrun::Lines(day.readAll())) {
        const QJsonObject r = QJsonDocument::fromJson(line).object();
        if (r["kind"] == "radio" && r["event"] == "end") {
            radioEnds << r["outcome"].toString() + " (" + r["reason"].toString() + ")";
        }
    }
    EXPECT_EQ(radioEnds, QStringList({"failed (no answer within 10000 ms)", "cut by close ()"}));
}

TEST(StatusServer, ReadmePrometheusExamplesAreValid) {
    QFile readme(DRAVONELLE_SOURCE_DIR "/README.md");
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    QTemporaryDir dir;
    for (const auto& [name, check] : {std::pair<QString, QString>{"dravonelle-rules.yml", "rules"},
                                      {"prometheus.yml", "config"}}) {
        SCOPED_TRACE(name.toStdString());
        const QRegularExpression block(
            "```yaml\\n# " + QRegularExpression::escape(name) + "\\n(.*?)```",
            QRegularExpression::DotMatchesEverythingOption);
        const auto match = block.match(text);
        ASSERT_TRUE(match.hasMatch());
        QFile file(dir.path() + '/' + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(match.captured(1).toUtf8());
        file.close();
        QProcess promtool;
        promtool.setWorkingDirectory(dir.path());
        promtool.setProcessChannelMode(QProcess::MergedChannels);
        promtool.start("promtool", {"check", check, file.fileName()});
        ASSERT_TRUE(promtool.waitForFinished(30000));
        EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAll().toStdString();
    }
}
