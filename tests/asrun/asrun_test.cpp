#include "asrun/asrun.h"
#include "platform/qt/asrun_file_log.h"
#include "support/station.h"
#include "support/test_rig.h"
#include "swf/swf.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using Log = platform::AsRunFileLog;

// A day's records, parsed.
QList<QJsonObject> Records(const QString& folder, QDate day) {
    QFile file(folder + '/' + asrun::DayFileName(day));
    QList<QJsonObject> records;
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : asrun::Lines(file.readAll())) {
            records << QJsonDocument::fromJson(line).object();
        }
    }
    return records;
}

QList<asrun::File> DayFiles(const QString& folder) {
    QList<asrun::File> files;
    for (const QString& name : QDir(folder).entryList({"*.jsonl"}, QDir::Files, QDir::Name)) {
        QFile file(folder + '/' + name);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        files.append({name, file.readAll()});
    }
    return files;
}

// Runs the as-run tool; its exit status and output.
std::pair<int, QString> Tool(const QStringList& args) {
    QProcess tool;
    tool.start(DRAVONELLE_ASRUN_TOOL, args);
    EXPECT_TRUE(tool.waitForFinished(20000));
    return {tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput())};
}

platform::AsRunLog::Start Item(const QDateTime& at, const QString& kind, const QString& name) {
    platform::AsRunLog::Start start;
    start.at = at;
    start.kind = *words::Find(on_air::kKinds, kind);
    start.name = name;
    return start;
}

platform::AsRunLog::End Ended(const QDateTime& at, const QString& outcome = "ended") {
    platform::AsRunLog::End end;
    end.at = at;
    end.outcome = *words::Find(on_air::kOutcomes, outcome);
    return end;
}

}  // namespace

// An item over midnight: its start in one day's file, its end in the next, one chain
// through both; the report gives each day its part. The tool verifies the chain and finds
// one changed byte in the middle of a day; a line a crash cut short is dropped at the next
// start, which closes what was left on air.
TEST(AsRunLog, ChainsThroughMidnightAndShowsAChangedByte) {
    QTemporaryDir temp;
    const QString folder = temp.path() + "/asrun";
    const QDate day = QDate::currentDate().addDays(-3);
    const QDateTime late = day.startOfDay().addMSecs(86400000 - 500);
    QString sha;
    {
        Log::Options options;
        options.folder = folder;
        Log log(options);
        QFile film(temp.path() + "/film.mpg");
        ASSERT_TRUE(film.open(QIODevice::WriteOnly));
        film.write(QByteArray(1 << 20, 'f'));
        film.close();
        sha = QString::fromLatin1(asrun::Sha256Hex(QByteArray(1 << 20, 'f')));
        auto start = Item(late, "film", "film.mpg");
        start.file = film.fileName();
        start.origin = "site";
        start.listing = "20261205120000";
        const quint64 film1 = log.Begin(start);
        PumpUntil([] { return false; }, 300);  // time for the hash
        auto end = Ended(late.addMSecs(1500));
        log.Finish(film1, end);
        for (int i = 0; i < 5; ++i) {
            const QDateTime at = late.addSecs(10 + i);
            log.Finish(log.Begin(Item(at, "photo", QString("p%1.jpg").arg(i))),
                       Ended(at.addMSecs(250), i == 2 ? "skipped" : "ended"));
        }
        log.Begin(Item(late.addSecs(60), "radio", "http://radio/live"));  // left on air
        ASSERT_TRUE(log.Flush(5000));
    }
    const auto first = Records(folder, day), next = Records(folder, day.addDays(1));
    ASSERT_EQ(first.size(), 1);
    EXPECT_EQ(first[0]["event"].toString(), "start");
    EXPECT_EQ(first[0]["prev"].toString(), QString(asrun::kNoPrev));
    ASSERT_EQ(next.size(), 12);
    EXPECT_EQ(next[0]["outcome"].toString(), "ended");
    EXPECT_EQ(next[0]["seconds"].toDouble(), 1.5);
    EXPECT_EQ(next[0]["file_sha256"].toString(), sha);
    EXPECT_EQ(next[0]["origin"].toString(), "site");
    EXPECT_EQ(asrun::ParseStamp(next[0]["start"].toString()), late);

    const QString dayFile = folder + '/' + asrun::DayFileName(day);
    const QString nextFile = folder + '/' + asrun::DayFileName(day.addDays(1));
    auto [status, out] = Tool({"verify", nextFile, dayFile});
    EXPECT_EQ(status, 0) << out.toStdString();
    EXPECT_TRUE(out.contains("13 lines in 2 files")) << out.toStdString();
    std::tie(status, out) = Tool({"report", dayFile, nextFile});
    const QString d0 = day.toString(Qt::ISODate), d1 = day.addDays(1).toString(Qt::ISODate);
    EXPECT_TRUE(out.startsWith("day,kind,name,times,seconds,first,last\n")) << out.toStdString();
    EXPECT_TRUE(out.contains(d0 + ",film,film.mpg,1,0.500,")) << out.toStdString();
    EXPECT_TRUE(out.contains(d1 + ",film,film.mpg,1,1.000,")) << out.toStdString();
    EXPECT_TRUE(out.contains(d1 + ",photo,p2.jpg,1,0.250,")) << out.toStdString();

    // A crash: the radio stayed open, and a line was cut short. The next start closes
    // the radio as cut by restart and drops the cut line; the chain holds.
    {
        QFile file(nextFile);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("{\"event\":\"start\",\"id\":\"x");
    }
    {
        Log::Options options;
        options.folder = folder;
        Log log(options);
        ASSERT_TRUE(log.Flush(5000));
    }
    QList<QJsonObject> all;
    for (const asrun::File& f : DayFiles(folder)) {
        for (const QByteArray& line : asrun::Lines(f.content)) {
            all << QJsonDocument::fromJson(line).object();
        }
    }
    ASSERT_EQ(all.size(), 14);  // the cut line is gone, the radio's end has come
    EXPECT_EQ(all.last()["outcome"].toString(), "cut by restart");
    EXPECT_EQ(all.last()["kind"].toString(), "radio");
    EXPECT_EQ(asrun::Verify(DayFiles(folder)).broken, "");

    // One byte changed in the middle of a day.
    QFile file(nextFile);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const qsizetype at = bytes.indexOf("p2.jpg");
    bytes[at + 1] = '3';
    file.seek(0);
    file.write(bytes);
    file.close();
    std::tie(status, out) = Tool({"verify", dayFile, nextFile});
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(out.contains(asrun::DayFileName(day.addDays(1)) + ":7: the chain breaks"))
        << out.toStdString();
}

// A disk below its reserve: the lines wait, in order, and the log says why; once there is
// room they are all written. Days older than those kept are removed.
TEST(AsRunLog, WaitsForTheReserveAndKeepsItsDays) {
    QTemporaryDir temp;
    const QString folder = temp.path() + "/asrun";
    QDir().mkpath(folder);
    const QDate today = QDate::currentDate();
    for (int age : {401, 399}) {
        QFile old(folder + '/' + asrun::DayFileName(today.addDays(-age)));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    }
    std::atomic<qint64> free{1 << 20};
    Log::Options options;
    options.folder = folder;
    options.reserveBytes = 8 << 20;
    options.freeBytes = [&](const QString&) { return free.load(); };
    Log log(options);
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < 20; ++i) {
        log.Finish(log.Begin(Item(now.addSecs(i), "sound", "s.mp3")), Ended(now.addSecs(i + 1)));
    }
    EXPECT_FALSE(log.Flush(3000));
    EXPECT_TRUE(log.Trouble().contains("below its reserve of 8 MiB; 40 lines wait"))
        << log.Trouble().toStdString();
    EXPECT_TRUE(Records(folder, today).isEmpty());
    free = qint64(1) << 30;
    EXPECT_TRUE(log.Flush(5000));
    EXPECT_EQ(log.Trouble(), "");
    EXPECT_EQ(Records(folder, today).size(), 40);
    EXPECT_FALSE(QFile::exists(folder + '/' + asrun::DayFileName(today.addDays(-401))));
    EXPECT_TRUE(QFile::exists(folder + '/' + asrun::DayFileName(today.addDays(-399))));

    // A write the disk refuses (the next day's file leads to /dev/full): the lines wait
    // with the system's reason, and what was written before stays whole.
    const QString tomorrow = folder + '/' + asrun::DayFileName(today.addDays(1));
    ASSERT_TRUE(QFile::link("/dev/full", tomorrow));
    const QDateTime later = today.addDays(1).startOfDay().addSecs(5);
    log.Finish(log.Begin(Item(later, "radio", "http://radio/live")), Ended(later.addSecs(1)));
    EXPECT_FALSE(log.Flush(3000));
    EXPECT_TRUE(log.Trouble().contains("disk full; 2 lines wait")) << log.Trouble().toStdString();
    EXPECT_EQ(Records(folder, today).size(), 40);
    ASSERT_TRUE(QFile::remove(tomorrow));
    EXPECT_TRUE(log.Flush(5000));
    EXPECT_EQ(Records(folder, today.addDays(1)).size(), 2);
    auto days = DayFiles(folder);
    days.removeFirst();  // the empty old day
    EXPECT_EQ(asrun::Verify(days).broken, "");
}

// The log closed the moment after an item: what was still waiting is written before it
// closes, every time, and the chain goes on through each new start.
TEST(AsRunLog, ClosingWritesWhatWaits) {
    QTemporaryDir temp;
    Log::Options options;
    options.folder = temp.path() + "/asrun";
    const QDateTime now = QDateTime::currentDateTime();
    constexpr int kRounds = 20;
    for (int i = 0; i < kRounds; ++i) {
        Log log(options);
        log.Finish(log.Begin(Item(now.addSecs(i), "photo", "p.jpg")), Ended(now.addSecs(i)));
    }
    EXPECT_EQ(Records(options.folder, now.date()).size(), 2 * kRounds);
    EXPECT_EQ(asrun::Verify(DayFiles(options.folder)).broken, "");
}

// Origins wait in memory until they are stored, a store with nothing new writes nothing,
// and the close stores what is left; the next start reads them all.
TEST(AsRunLog, OriginsAreStoredWhenAskedAndReadAtTheNextStart) {
    QTemporaryDir temp;
    Log::Options options;
    options.folder = temp.path() + "/asrun";
    const QString stored = options.folder + "/origins.json";
    {
        Log log(options);
        for (const char* name : {"a.jpg", "B.JPG", "c.swf"}) {
            log.NoteOrigin(name, {"site", "20261208120000"});
        }
        ASSERT_TRUE(log.Flush(5000));
        EXPECT_FALSE(QFile::exists(stored));
        log.StoreOrigins();
        ASSERT_TRUE(log.Flush(5000));
        ASSERT_TRUE(QFile::remove(stored));
        log.StoreOrigins();
        ASSERT_TRUE(log.Flush(5000));
        EXPECT_FALSE(QFile::exists(stored));
        log.NoteOrigin("d.mpg", {"push", ""});
    }
    Log log(options);
    EXPECT_EQ(log.OriginOf("b.jpg").origin, "site");
    EXPECT_EQ(log.OriginOf("b.jpg").listing, "20261208120000");
    EXPECT_EQ(log.OriginOf("D.mpg").origin, "push");
    EXPECT_EQ(log.OriginOf("e.jpg").origin, "unknown");
}

// What the main movie asks for, item by item: each appears once, its start and end within
// 100 ms of when it was asked for and when it ended, with its outcome; what is on air
// when the window closes is cut by the close.
TEST(AsRunLog, EveryCommandOfTheMainMovieIsRecorded) {
    QTemporaryDir temp;
    const QString folder = temp.path() + "/asrun";
    TestRig::Options options;
    TestRig* rigSeen = nullptr;
    options.customize = [&](platform::Platform& p) {
        Log::Options log;
        log.folder = folder;
        platform::FileSystem* files = p.files.get();
        log.hostPath = [files](const QString& path) { return files->HostPath(path); };
        p.asrun = std::make_unique<Log>(log);
    };
    auto rig = std::make_unique<TestRig>(options);
    rigSeen = rig.get();
    rig->Load();
    auto& form = *rig->form;
    for (const char* name : {"item.swf", "film.mpg", "tune.mp3"}) {
        rig->WriteDriveFile(QString("c:\\fileftp\\") + name, QByteArray(1000, 'x'));
    }
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::green);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPG");
    rig->WriteDriveFile("c:\\fileftp\\photo.jpg", jpeg);
    struct Asked {
        QString kind, name, outcome;
        QDateTime start, end;
    };
    QList<Asked> asked;
    const auto wait = [](int ms) { PumpUntil([] { return false; }, ms); };
    const auto command = [&](const QString& kind, const QString& name, const QString& c,
                             const QString& args) {
        asked.append({kind, name, "", QDateTime::currentDateTime(), {}});
        form.ShockwaveFlash1_FSCommand(c, args);
    };
    const auto ended = [&](const QString& outcome) {
        asked.last().end = QDateTime::currentDateTime();
        asked.last().outcome = outcome;
    };
    rig->flash2->totalFrames = 10;
    command("insert", "item.swf", "flash", "movie:item.swf");
    wait(300);
    rig->flash2->currentFrame = 9;
    ASSERT_TRUE(PumpUntil([&] { return !form.flashtimer.Enabled(); }, 2000));
    ended("ended");
    command("film", "film.mpg", "film", "film:film.mpg");
    wait(300);
    form.MediaPlayer1_PlayStateChange(platform::kStopped);
    ended("ended");
    command("sound", "tune.mp3", "mp3", "mp3:tune.mp3");
    wait(200);
    form.MediaPlayer1_PlayStateChange(platform::kStopped);
    ended("ended");
    command("photo", "photo.jpg", "foto", "foto:photo.jpg,2");
    ASSERT_TRUE(PumpUntil([&] { return form.onAir.IsOnAir(on_air::Kind::kPhoto); }, 5000));
    wait(200);
    form.FotoOverslaan_Click();
    ended("skipped");
    command("insert", "missing.swf", "flash", "movie:missing.swf");
    ended("failed");
    command("radio", form.Platform().endpoints.radioUrl, "radio", "");
    wait(200);
    asked.last().end = QDateTime::currentDateTime();
    asked.last().outcome = "cut by close";
    rig->form->close();
    rig.reset();
    (void)rigSeen;

    const auto records = Records(folder, QDate::currentDate());
    for (const Asked& a : asked) {
        QList<QJsonObject> ends;
        for (const QJsonObject& r : records) {
            // The radio comes back after each item: its own turn is the one asked for.
            if (r["event"].toString() == "end" && r["kind"].toString() == a.kind &&
                r["name"].toString() == a.name &&
                (a.kind != "radio" ||
                 std::abs(asrun::ParseStamp(r["start"].toString()).msecsTo(a.start)) <= 100)) {
                ends << r;
            }
        }
        ASSERT_EQ(ends.size(), 1) << a.kind.toStdString() << " " << a.name.toStdString();
        const QJsonObject& r = ends.first();
        EXPECT_EQ(r["outcome"].toString(), a.outcome) << a.kind.toStdString();
        EXPECT_LE(std::abs(asrun::ParseStamp(r["start"].toString()).msecsTo(a.start)), 100)
            << a.kind.toStdString();
        EXPECT_LE(std::abs(asrun::ParseStamp(r["end"].toString()).msecsTo(a.end)), 100)
            << a.kind.toStdString();
        if (a.kind == "insert" && a.outcome == "ended") {
            EXPECT_EQ(r["frames_shown"].toInt(), 10);
            EXPECT_EQ(r["frames_total"].toInt(), 10);
            EXPECT_EQ(r["file_sha256"].toString(), asrun::Sha256Hex(QByteArray(1000, 'x')));
        }
    }
    EXPECT_EQ(asrun::Verify(DayFiles(folder)).broken, "");
}

// The program killed in the middle of an item: what was written a second before is
// there, and its next start closes the open item as cut by restart, at the kill. After a
// power cut (the memory stamp gone with the reboot) it ends no later than the kill and at
// most a minute before it. The status server serves the day's file and its report.
TEST(AsRunLog, KilledProgramLosesAtMostTheLastSecond) {
    Station station;
    QTemporaryDir runtime("/dev/shm/dravonelle-test-XXXXXX");  // tmpfs, as /run/user is
    ASSERT_TRUE(runtime.isValid());
    const quint16 port = FreePort();
    station.NoSite();
    station.settings["system/status_port"] = QString::number(port);
    const QString folder = station.Folder() + "/data/dravonelle/asrun";
    const QString today = folder + '/' + asrun::DayFileName(QDate::currentDate());
    const auto lines = [&] {
        QFile file(today);
        return file.open(QIODevice::ReadOnly) ? asrun::Lines(file.readAll()) : QList<QByteArray>();
    };
    swf::Writer movie(8, QSize(800, 600), 12);
    movie.SetBackground(Qt::darkBlue);
    movie.ShowFrame();
    station.WriteDriveFile("fileftp/dravonelle.swf", movie.Finish());
    const QMap<QString, QString> offscreen = {{"QT_QPA_PLATFORM", "offscreen"},
                                              {"XDG_RUNTIME_DIR", runtime.path()}};
    station.Start(offscreen);
    // Items started by the log, not ended on its disk.
    const auto onDisk = [&] {
        QMap<QString, QJsonObject> open;
        for (const QByteArray& line : lines()) {
            const QJsonObject r = QJsonDocument::fromJson(line).object();
            if (r["event"].toString() == "start") {
                open.insert(r["id"].toString(), r);
            } else if (r["event"].toString() == "end") {
                open.remove(r["id"].toString());
            }
        }
        return open;
    };
    const auto isMain = [](const QJsonObject& r) { return r["name"] == "dravonelle.swf"; };
    const auto fetch = [&](const QString& path) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        QByteArray reply;
        if (PumpUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; })) {
            socket.write("GET " + path.toUtf8() +
                         " HTTP/1.1\r\nHost: d\r\nConnection: close\r\n\r\n");
            PumpUntil(
                [&] {
                    reply += socket.readAll();
                    return socket.state() == QAbstractSocket::UnconnectedState;
                },
                10000);
        }
        return QString::fromUtf8(reply + socket.readAll());
    };
    QSet<QString> closed;  // cut by restart in an earlier round
    for (const bool powerCut : {false, true}) {
        SCOPED_TRACE(powerCut ? "power cut" : "crash");
        if (powerCut) {  // the disk has the lines of a minute ago; the memory none of them
            ASSERT_TRUE(PumpUntil(
                [&] {
                    const auto open = onDisk();
                    return std::any_of(open.cbegin(), open.cend(), isMain);
                },
                75000));
        } else {
            ASSERT_TRUE(
                PumpUntil([&] { return fetch("/status").contains("dravonelle.swf"); }, 60000))
                << station.Log().toStdString();
        }
        PumpUntil([] { return false; }, 1000);
        ::kill(static_cast<pid_t>(station.Pid()), SIGKILL);
        ASSERT_TRUE(PumpUntil([&] { return !station.Running(); }, 10000));
        const QDateTime killed = QDateTime::currentDateTime();
        if (powerCut) {
            for (const QString& name : QDir(runtime.path()).entryList({"dravonelle-asrun-*"})) {
                ASSERT_TRUE(QFile::remove(runtime.path() + '/' + name));
            }
        }
        station.Start(offscreen);
        QList<QJsonObject> cut;
        ASSERT_TRUE(PumpUntil(
            [&] {
                cut.clear();
                for (const QByteArray& line : lines()) {
                    const QJsonObject r = QJsonDocument::fromJson(line).object();
                    if (r["outcome"].toString() == "cut by restart" &&
                        !closed.contains(r["id"].toString())) {
                        cut << r;
                    }
                }
                return std::any_of(cut.cbegin(), cut.cend(), isMain);
            },
            60000))
            << station.Log().toStdString();
        for (const QJsonObject& r : cut) {
            closed.insert(r["id"].toString());
            const qint64 early = asrun::ParseStamp(r["end"].toString()).msecsTo(killed);
            EXPECT_GE(early, 0);
            EXPECT_LE(early, powerCut ? 61000 : 1500);
        }
        for (const QJsonObject& r : onDisk()) {  // all that started before the kill has ended
            EXPECT_GT(asrun::ParseStamp(r["start"].toString()), killed)
                << r["id"].toString().toStdString();
        }
    }
    const auto [status, out] = Tool({"verify", today});
    EXPECT_EQ(status, 0) << out.toStdString();

    ASSERT_TRUE(
        PumpUntil([&] { return station.Log().contains("status server listening"); }, 60000));
    const QString day = QDate::currentDate().toString(Qt::ISODate);
    QFile file(today);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString jsonl = fetch("/asrun/" + day + ".jsonl");
    EXPECT_TRUE(jsonl.startsWith("HTTP/1.1 200")) << jsonl.left(200).toStdString();
    EXPECT_TRUE(jsonl.contains(lines().first())) << jsonl.left(400).toStdString();
    const QString csv = fetch("/asrun/" + day + ".csv");
    EXPECT_TRUE(csv.contains("\r\n\r\nday,kind,name,times,seconds,first,last\n" + day + ",main,"))
        << csv.toStdString();
    for (const QString& wrong : {"/asrun/" + day + ".json", QString("/asrun/1999-01-01.jsonl"),
                                 "/asrun/" + day.left(8) + "1.jsonl"}) {
        EXPECT_TRUE(fetch(wrong).startsWith("HTTP/1.1 404")) << wrong.toStdString();
    }
    QProcess fleet;
    fleet.start(DRAVONELLE_FLEET_TOOL,
                {"--asrun", day, "--host", QStringLiteral("127.0.0.1:%1").arg(port)});
    ASSERT_TRUE(fleet.waitForFinished(30000));
    const QString gathered = QString::fromUtf8(fleet.readAllStandardOutput());
    EXPECT_EQ(fleet.exitCode(), 0) << fleet.readAllStandardError().toStdString();
    EXPECT_TRUE(gathered.startsWith(QStringLiteral("display,day,kind,name,times,seconds,first,"
                                                   "last\n127.0.0.1:%1,%2,main,")
                                        .arg(port)
                                        .arg(day)))
        << gathered.toStdString();
    station.Stop();
}

// What a run left on air is ended "cut by restart" at the latest moment the log knew it
// was alive, worked out from the lines alone.
TEST(AsRunLog, ItemsLeftOnAirAreCutAtTheLastMomentSeen) {
    const QDateTime t0(QDate(2026, 12, 9), QTime(10, 0));
    const auto at = [&](int seconds) { return asrun::Stamp(t0.addSecs(seconds)); };
    const auto start = [&](const char* id, int seconds) {
        return asrun::ChainLine({{"event", "start"},
                                 {"id", id},
                                 {"kind", "photo"},
                                 {"name", QString(id) + ".jpg"},
                                 {"start", at(seconds)}},
                                asrun::kNoPrev);
    };
    const auto end = [&](const char* id, int started, int seconds) {
        return asrun::ChainLine(
            {{"event", "end"}, {"id", id}, {"start", at(started)}, {"end", at(seconds)}},
            asrun::kNoPrev);
    };
    struct Case {
        const char* what;
        QList<QByteArray> lines;
        QDateTime alive;
        QList<std::pair<QString, int>> cut;  // id, seconds after t0 it ends
    };
    const QList<Case> cases = {
        {"nothing left open", {start("a", 0), end("a", 0, 5)}, {}, {}},
        {"open items in the order they started, at the last stamp",
         {start("b", 0), start("a", 2), start("c", 4), end("c", 4, 9)},
         {},
         {{"b", 9}, {"a", 9}}},
        {"a later alive stamp wins", {start("a", 0)}, t0.addSecs(30), {{"a", 30}}},
        {"an earlier alive stamp does not",
         {start("a", 0), end("x", 0, 40)},
         t0.addSecs(30),
         {{"a", 40}}},
        {"never before its own start", {start("a", 50)}, t0.addSecs(30), {{"a", 50}}},
        {"a line that is no record is passed over", {start("a", 0), "{not json"}, {}, {{"a", 0}}},
        {"no lines at all", {}, t0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QList<QJsonObject> ends = asrun::CutByRestart(c.lines, c.alive);
        ASSERT_EQ(ends.size(), c.cut.size());
        for (qsizetype i = 0; i < ends.size(); ++i) {
            const QJsonObject& e = ends[i];
            EXPECT_EQ(e["id"].toString(), c.cut[i].first);
            EXPECT_EQ(e["event"].toString(), "end");
            EXPECT_EQ(e["outcome"].toString(), "cut by restart");
            EXPECT_EQ(e["end"].toString(), at(c.cut[i].second));
            const int started = asrun::ParseStamp(e["start"].toString()).secsTo(t0) * -1;
            EXPECT_EQ(e["seconds"].toDouble(), c.cut[i].second - started);
            EXPECT_EQ(e["name"].toString(), c.cut[i].first + ".jpg");  // the start's fields stay
            EXPECT_FALSE(e.contains("prev"));
        }
    }
}
