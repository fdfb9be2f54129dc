#include "platform/event_loop.h"
#include "support/small_disk.h"
#include "support/test_rig.h"
#include "update/listing.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>

#include <sys/stat.h>
#include <functional>

namespace {

QByteArray Bytes(qsizetype size, char fill) {
    return QByteArray(size, fill);
}

// A content site served by a real HTTP server on loopback, and a window that fetches
// from it with the real transfer control.
class UpdateCycle : public ::testing::Test {
  protected:
    UpdateCycle() {
        QDir().mkpath(Www() + "/test/fotos");
        QDir().mkpath(Www() + "/freedata");
        server.setProgram("python3");
        server.setArguments({DRAVONELLE_CONTENT_SITE, Www()});
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start();
        if (server.waitForReadyRead(10000)) {
            port = server.readLine().trimmed().toUShort();
        }
        const QString base = "http://127.0.0.1:" + QString::number(port);
        options.realInet = true;
        options.endpoints =
            platform::Endpoints{"127.0.0.1:" + QString::number(port),
                                base + "/freedata/meerdaagsebanner.jpg", base + "/radio.asx"};
        rig = std::make_unique<TestRig>(options);
    }
    ~UpdateCycle() override {
        rig.reset();
        server.kill();
        server.waitForFinished();
    }
    void SetUp() override {
        ASSERT_NE(port, 0) << "the content site did not start";
        rig->Load();
        rig->flash1->calls.clear();
        SiteFile("test/flash.txt", "tekst");
        SiteFile("test/dravonelle.swf", "FWS main movie");
        SiteFile("freedata/meerdaagsebanner.jpg", "banner");
        SiteFile("test/fotos/a.jpg", Bytes(700, 'a'));
        SiteFile("test/fotos/b.png", Bytes(300, 'b'));
        Listing("a.jpg;s1;700;b.png;s1;300");
    }

    QString State() const { return rig_temp.path(); }
    QString Www() const { return State() + "/www"; }
    void SiteFile(const QString& path, const QByteArray& bytes) {
        QFile file(Www() + "/" + path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    void Listing(const QByteArray& text) { SiteFile("testdir.php", text); }
    void Fault(const QString& path, const QString& action) {
        QFile file(State() + "/faults");
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write((path + " " + action + "\n").toUtf8());
    }
    void ClearFaults() { QFile::remove(State() + "/faults"); }
    // Adds each failure the transfer control tells the window to `failures`.
    void CollectFailures(QStringList& failures) {
        const auto told = rig->anyInet->StateChanged;
        rig->anyInet->StateChanged = [&failures, told](const platform::Result<int>& state) {
            if (!state) {
                failures << state.reason();
            }
            told(state);
        };
    }
    // The request paths since the last call, without the listing's number.
    QStringList Requests() {
        QFile file(State() + "/requests.log");
        QStringList lines;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n')) {
                const qsizetype query = line.indexOf('?');
                if (!line.isEmpty()) {
                    lines << QString::fromUtf8(query < 0 ? line : line.left(query));
                }
            }
            file.remove();
        }
        return lines;
    }
    QStringList FixedRequests() const {
        return {"/test/flash.txt", "/test/dravonelle.swf", "/testdir.php"};
    }
    void Cycle() { rig->form->UpdateContent(); }
    // A fresh window on the changed options.
    void Remake() {
        rig.reset();
        rig = std::make_unique<TestRig>(options);
        rig->Load();
    }

    QTemporaryDir rig_temp;
    TestRig::Options options;
    QProcess server;
    quint16 port = 0;
    std::unique_ptr<TestRig> rig;
};

}  // namespace

TEST_F(UpdateCycle, StartUpCycleFetchesMovesAndLoadsTheMainMovie) {
    rig->form->Form_Activate();
    EXPECT_EQ(Requests(), FixedRequests() + QStringList({"/test/fotos/a.jpg", "/test/fotos/b.png",
                                                         "/freedata/meerdaagsebanner.jpg"}));
    auto& r = *rig;
    EXPECT_EQ(r.ReadDriveFile("c:\\fileftp\\flash.txt"), "tekst");
    EXPECT_EQ(r.ReadDriveFile("c:\\fileftp\\dravonelle.swf"), "FWS main movie");
    EXPECT_EQ(r.ReadDriveFile("c:\\fileftp\\file.txt"), "a.jpg;s1;700;b.png;s1;300");
    EXPECT_EQ(r.ReadDriveFile("c:\\fileftp\\weerbericht.jpg"), "banner");
    // The start-up cycle moves what it parked at its own end.
    EXPECT_EQ(r.ReadDriveFile("c:\\fileftp\\fotos\\a.jpg"), Bytes(700, 'a'));
    EXPECT_EQ(r.files->ListPlainFiles("c:\\fileftp\\Buffer"), QStringList());
    EXPECT_EQ(r.form->ExpectedBytes, 1000);
    EXPECT_EQ(r.form->lblInfo->text(), "Geen verbinding");
    EXPECT_EQ(r.dialUp->snapshots, 1);
    const QStringList& calls = r.flash1->calls;
    ASSERT_GE(calls.size(), 4);
    EXPECT_EQ(calls.first(), "Movie=" + r.temp.path() + "/program\\download.swf");
    EXPECT_EQ(calls[1], "Status=Maakt verbinding..");
    EXPECT_EQ(calls.mid(calls.size() - 3),
              QStringList({"Movie=c:\\fileftp\\dravonelle.swf", "Rewind", "Play"}));
    EXPECT_TRUE(calls.contains("Status=Downloading: 25 %"));
    EXPECT_TRUE(calls.contains("Status=Downloading: 76 %"));
    EXPECT_TRUE(r.form->RadioPlaying);
    EXPECT_FALSE(r.form->Updating);
    EXPECT_FALSE(r.form->DownloadScreenShown);
    EXPECT_TRUE(r.form->BufferPending);
}

TEST_F(UpdateCycle, SameListingAgainFetchesOnlyTheFixedFiles) {
    rig->form->Form_Activate();
    Requests();
    Cycle();
    EXPECT_EQ(Requests(), FixedRequests() + QStringList({"/freedata/meerdaagsebanner.jpg"}));
    EXPECT_EQ(rig->form->ExpectedBytes, 0);
    EXPECT_FALSE(rig->form->BufferPending);  // cleared by the move at the cycle's start
}

TEST_F(UpdateCycle, ChangedStampsAndNamesDifferingInCaseAreFetchedAgain) {
    rig->form->Form_Activate();
    Requests();
    SiteFile("test/fotos/A.jpg", Bytes(10, 'A'));
    // A trailing ";" makes a seventh, empty field, which is ignored.
    Listing("a.jpg;s2;700;b.png;s1;300;A.jpg;s1;10;");
    Cycle();
    EXPECT_EQ(Requests(), FixedRequests() + QStringList({"/test/fotos/a.jpg", "/test/fotos/A.jpg",
                                                         "/freedata/meerdaagsebanner.jpg"}));
    EXPECT_EQ(rig->form->ExpectedBytes, 710);
    // Parked until the next cycle starts.
    EXPECT_FALSE(rig->files->ListPlainFiles("c:\\fileftp\\BUFFER").isEmpty());
    Cycle();
    EXPECT_TRUE(rig->files->ListPlainFiles("c:\\fileftp\\BUFFER").isEmpty());
}

TEST_F(UpdateCycle, ExcludedAndUnsafeNamesAreCountedButNeverFetched) {
    Listing("dir.php;1;5;file.txt;1;7;.;1;11;..;1;13;../evil;1;17;sub/x;1;19;;1;23;b.png;1;300");
    rig->form->Form_Activate();
    EXPECT_EQ(Requests(), FixedRequests() +
                              QStringList({"/test/fotos/b.png", "/freedata/meerdaagsebanner.jpg"}));
    EXPECT_EQ(rig->form->ExpectedBytes, 5 + 7 + 11 + 13 + 17 + 19 + 23 + 300);
    EXPECT_FALSE(QFile::exists(rig->temp.path() + "/drive_c/evil"));
}

QStringList statusLines;
QtMessageHandler previousHandler = nullptr;
void NoteStatus(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith("status: ")) {
        statusLines << text.mid(8);
    }
    previousHandler(type, context, text);
}

// On a full disk the fetch says so, with the bytes it wanted, and the old file stays; so
// does a body whose announced length would eat into the reserve, before it is written.
TEST_F(UpdateCycle, DownloadOntoAFullDiskSaysDiskFull) {
    for (const bool reserve : {false, true}) {
        SCOPED_TRACE(reserve ? "reserve" : "full disk");
        options.wrapFiles = [reserve](std::unique_ptr<platform::FileSystem> real)
            -> std::unique_ptr<platform::FileSystem> {
            if (reserve) {
                return real;
            }
            return std::make_unique<SmallDisk>(std::move(real), 100);
        };
        options.reserve = {};
        if (reserve) {  // a gigabyte kept free, and 100 bytes to spare above it
            options.reserve.keepFreeBytes = qint64(1) << 30;
            options.reserve.freeBytes = [](const QString&) { return (qint64(1) << 30) + 100; };
        }
        Remake();
        rig->WriteDriveFile("c:\\fileftp\\fotos\\a.jpg", "old a");
        statusLines.clear();
        previousHandler = qInstallMessageHandler(NoteStatus);
        rig->form->Form_Activate();
        qInstallMessageHandler(previousHandler);
        EXPECT_TRUE(
            statusLines.contains("disk full: 700 bytes wanted for c:\\fileftp\\BUFFER\\a.jpg"))
            << statusLines.join(" | ").toStdString();
        EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\fotos\\a.jpg"), "old a");
        EXPECT_FALSE(rig->form->Updating);
    }
}

// Each listed name is asked for as exactly that name, and stored under it.
// A banner whose body never ends, slowly or fast: its bound ends the fetch, the previous
// banner stays, and the start-up cycle still moves the parked files and loads the movie.
TEST_F(UpdateCycle, EndlessBodiesAreCutByTheirBounds) {
    struct Case {
        const char* action;
        platform::InetLimits limits;
        const char* reason;
    };
    const Case cases[] = {
        {"trickle", {2, qint64(4) << 30, {}}, "not complete after 2 s"},
        {"flood", {1800, 8 << 20, {}}, "a body without a length passed 8388608 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        ClearFaults();
        Fault("/freedata/meerdaagsebanner.jpg", c.action);
        options.inetLimits = c.limits;
        Remake();
        rig->WriteDriveFile("c:\\fileftp\\weerbericht.jpg", "old banner");
        QStringList failures;
        CollectFailures(failures);
        rig->form->Form_Activate();
        EXPECT_FALSE(rig->form->Updating);
        EXPECT_EQ(failures, QStringList{c.reason});
        EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\weerbericht.jpg"), "old banner");
        EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\fotos\\a.jpg"), Bytes(700, 'a'));
        EXPECT_TRUE(rig->flash1->calls.contains("Movie=c:\\fileftp\\dravonelle.swf"));
    }
}

TEST_F(UpdateCycle, ListedNamesAreEscapedAsOnePathSegment) {
    const QList<std::pair<QString, QString>> names = {
        {"x#1.jpg", "/test/fotos/x%231.jpg"},
        {"y?1.jpg", "/test/fotos/y%3F1.jpg"},
        {"z%41.jpg", "/test/fotos/z%2541.jpg"},
        {"zo mer é.jpg", "/test/fotos/zo%20mer%20%C3%A9.jpg"},
    };
    SiteFile("test/fotos/x", "wrong");
    SiteFile("test/fotos/zA.jpg", "wrong");
    QStringList listing, expected = FixedRequests();
    for (const auto& [name, path] : names) {
        SiteFile("test/fotos/" + name, name.toUtf8());
        listing << name + ";s1;10";
        expected << path;
    }
    Listing(listing.join(';').toUtf8());
    rig->form->Form_Activate();
    EXPECT_EQ(Requests(), expected + QStringList({"/freedata/meerdaagsebanner.jpg"}));
    for (const auto& [name, path] : names) {
        EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\fotos\\" + name), name.toUtf8())
            << path.toStdString();
    }
}

TEST_F(UpdateCycle, ListedMainMovieLandsInTheContentFolderAndIsLoadedNextCycle) {
    SiteFile("test/fotos/dravonelle.swf", "FWS new movie");
    Listing("dravonelle.swf;v2;13");
    rig->form->Form_Activate();
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\dravonelle.swf"), "FWS new movie");
    EXPECT_TRUE(rig->form->MainMovieChanged);
    rig->flash1->calls.clear();
    Cycle();
    EXPECT_EQ(rig->flash1->calls.mid(0, 4),
              QStringList({"Movie=" + rig->temp.path() + "/program\\download.swf",
                           "Movie=c:\\fileftp\\dravonelle.swf", "Rewind", "Play"}));
    EXPECT_FALSE(rig->form->MainMovieChanged);
    // The fixed fetch of this cycle brought the site's root movie again.
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\dravonelle.swf"), "FWS main movie");
}

TEST_F(UpdateCycle, FailedFetchesKeepThePreviousFiles) {
    rig->form->Form_Activate();
    rig->anyInet->SetRequestTimeout(1);
    QStringList failures;
    CollectFailures(failures);
    Fault("/test/flash.txt", "500");
    Fault("/test/dravonelle.swf", "reset");
    Fault("/freedata/meerdaagsebanner.jpg", "short");
    Fault("/test/fotos/a.jpg", "hang");
    Fault("/test/fotos/b.png", "404");
    Listing("a.jpg;s2;700;b.png;s2;300");
    SiteFile("test/flash.txt", "new text");
    Cycle();
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\flash.txt"), "tekst");
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\dravonelle.swf"), "FWS main movie");
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\weerbericht.jpg"), "banner");
    EXPECT_FALSE(rig->files->FileExists("c:\\fileftp\\Buffer\\a.jpg"));
    EXPECT_EQ(rig->form->lblInfo->text(), "Geen verbinding");
    EXPECT_TRUE(failures.contains("no progress for 1 s after 0 bytes"))
        << failures.join(" | ").toStdString();
    EXPECT_EQ(rig->files->ListHiddenFiles("c:\\fileftp\\Buffer") +
                  rig->files->ListHiddenFiles("c:\\fileftp"),
              QStringList());  // no unfinished file stays behind
    // The entries that failed are asked for again by the next cycle.
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\file.txt"), "");
    ClearFaults();
    Requests();
    Cycle();
    EXPECT_EQ(Requests(), FixedRequests() + QStringList({"/test/fotos/a.jpg", "/test/fotos/b.png",
                                                         "/freedata/meerdaagsebanner.jpg"}));
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\flash.txt"), "new text");
}

TEST_F(UpdateCycle, UnreachableSiteEndsTheCycle) {
    rig->form->Lokatie->setText("http://127.0.0.1:1/test");
    rig->form->Form_Activate();
    EXPECT_EQ(rig->form->lblInfo->text(), "Geen verbinding");
    EXPECT_FALSE(rig->form->Updating);
    EXPECT_TRUE(rig->form->RadioPlaying);
}

TEST_F(UpdateCycle, EventsAreHandledWhileAFetchWaitsAndASecondCycleLeavesNoTrace) {
    Fault("/test/fotos/a.jpg", "slow");
    bool commandRan = false;
    QString captionInside;
    QTimer::singleShot(300, rig->form.get(), [&] {
        ASSERT_TRUE(rig->form->Updating);
        captionInside = rig->form->lblInfo->text();
        rig->form->UpdateContent();  // returns at once
        EXPECT_EQ(rig->form->lblInfo->text(), captionInside);
        rig->form->ShockwaveFlash1_FSCommand("radio", "");
        commandRan = rig->form->RadioPlaying;
    });
    rig->form->Form_Activate();
    EXPECT_TRUE(commandRan);
    EXPECT_EQ(captionInside, "Download:a.jpg");
    EXPECT_EQ(Requests().count("/testdir.php"), 1);
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\fotos\\a.jpg"), Bytes(700, 'a'));
}

TEST_F(UpdateCycle, CloseDuringACycleEndsItSafely) {
    rig->form->Form_Activate();
    Requests();
    rig->WriteDriveFile("c:\\fileftp\\Buffer\\keep.jpg", "parked");
    Fault("/test/fotos/a.jpg", "slow");
    Listing("a.jpg;s3;700");
    rig->form->show();
    rig->form->StopRadio();
    QTimer::singleShot(300, rig->form.get(), [&] { rig->form->close(); });
    Cycle();
    EXPECT_TRUE(rig->form->Closing());
    EXPECT_FALSE(rig->form->Updating);
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\fotos\\a.jpg"), Bytes(700, 'a'));
    EXPECT_FALSE(rig->files->FileExists("c:\\fileftp\\Buffer\\a.jpg"));
    EXPECT_EQ(rig->files->ListHiddenFiles("c:\\fileftp\\Buffer") +
                  rig->files->ListHiddenFiles("c:\\fileftp"),
              QStringList());  // no unfinished file stays behind
    EXPECT_FALSE(Requests().contains("/freedata/meerdaagsebanner.jpg"));
}

// ---- The driver on a fake transfer control ----

namespace {

class Driver : public ::testing::Test {
  protected:
    void SetUp() override {
        rig.Load();
        (void)rig.files->CreateFolder("c:\\fileftp");
        (void)rig.files->CreateFolder("c:\\fileftp\\Buffer");
        rig.form->ExpectedBytes = 1000;
        rig.form->DownloadedBytes = 0;
    }
    QStringList Progress() {
        QStringList texts;
        for (const QString& call : rig.flash1->setVariables) {
            if (call.startsWith("Status=")) {
                texts << call.mid(7);
            }
        }
        return texts;
    }
    TestRig rig;
};

}  // namespace

TEST_F(Driver, ProgressAfterEveryFullPieceOnly) {
    rig.inet->answers["http://x/512"] = {200, Bytes(512, 'x')};
    rig.inet->answers["http://x/300"] = {200, Bytes(300, 'y')};
    rig.inet->answers["http://x/0"] = {200, ""};
    EXPECT_TRUE(rig.form->DownloadFile("http://x/512", "five.bin"));
    EXPECT_EQ(Progress(), QStringList({"Downloading: 25 %", "Downloading: 51 %"}));
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\Buffer\\five.bin"), Bytes(512, 'x'));

    rig.flash1->setVariables.clear();
    rig.form->DownloadedBytes = 0;
    EXPECT_TRUE(rig.form->DownloadFile("http://x/300", "three.bin"));
    EXPECT_EQ(Progress(), QStringList({"Downloading: 25 %"}));  // the 44 bytes show none
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\BUFFER\\three.bin"), Bytes(300, 'y'));

    rig.flash1->setVariables.clear();
    EXPECT_TRUE(rig.form->DownloadFile("http://x/0", "Flash.txt"));  // not a fixed name
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\Buffer\\Flash.txt"), "");
    EXPECT_TRUE(Progress().isEmpty());
    EXPECT_EQ(rig.form->DownloadBufferUBound(), -1);
}

TEST_F(Driver, NothingExpectedShowsAHundredPercentOnce) {
    rig.form->ExpectedBytes = 0;
    rig.inet->answers["http://x/big"] = {200, Bytes(2560, 'z')};
    EXPECT_TRUE(rig.form->DownloadFile("http://x/big", "flash.txt"));
    // The same text is not sent again and again.
    EXPECT_EQ(Progress(), QStringList({"Downloading: 100 %"}));
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\flash.txt"), Bytes(2560, 'z'));
}

TEST_F(Driver, FailuresLeaveTheOldFileAndReturn) {
    rig.WriteDriveFile("c:\\fileftp\\weerbericht.jpg", "old banner");
    rig.inet->answers["http://x/fail"] = {200, "", -2, true};
    rig.inet->answers["http://x/short"] = {200, "abc", 10};
    rig.inet->answers["http://x/500"] = {500, "oops"};
    for (const char* url : {"http://x/fail", "http://x/short", "http://x/500"}) {
        EXPECT_FALSE(rig.form->DownloadFile(url, "weerbericht.jpg")) << url;
        EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\weerbericht.jpg"), "old banner");
        EXPECT_FALSE(rig.form->DownloadBusy);
    }
}

TEST_F(Driver, MoveEmptiesTheBufferIntoThePhotoFolder) {
    (void)rig.files->CreateFolder("c:\\fileftp\\fotos");
    rig.form->MoveBufferedFiles();  // an empty buffer does nothing
    rig.WriteDriveFile("c:\\fileftp\\Buffer\\p.jpg", "new");
    rig.WriteDriveFile("c:\\fileftp\\Buffer\\q.jpg", "q");
    rig.WriteDriveFile("c:\\fileftp\\fotos\\p.jpg", "old photo");
    rig.form->MoveBufferedFiles();
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\fotos\\p.jpg"), "new");
    EXPECT_EQ(rig.files->ListPlainFiles("c:\\fileftp\\fotos"), QStringList({"p.jpg", "q.jpg"}));
    EXPECT_TRUE(rig.files->ListPlainFiles("c:\\fileftp\\Buffer").isEmpty());
}

TEST(Listing, FieldsGroupsAndSizes) {
    EXPECT_TRUE(update::SplitListing("").isEmpty());
    EXPECT_EQ(update::SplitListing("a;1;2;").size(), 4);
    const update::PreviousListing previous(update::SplitListing("a;1;2;b;7"));
    EXPECT_TRUE(previous.Matches("a", "1"));
    EXPECT_TRUE(previous.Matches("b", "7"));  // a previous group needs name and stamp only
    EXPECT_FALSE(previous.Matches("A", "1"));
    EXPECT_FALSE(previous.Matches("a", "2"));
    EXPECT_EQ(update::SizeField("123"), 123);
    EXPECT_EQ(update::SizeField("12x"), 0);
    EXPECT_EQ(update::SizeField("5000000000"), 5000000000LL);
}

TEST_F(UpdateCycle, LargeBodyArrivesWhole) {
    QByteArray big(20 * 1024 * 1024 + 123, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i % 251);
    }
    SiteFile("test/fotos/film.mpg", big);
    Listing("film.mpg;1;20971643");
    rig->form->Form_Activate();
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\fotos\\film.mpg"), big);
    // The short last piece is not counted in the progress.
    EXPECT_TRUE(rig->flash1->calls.contains("Status=Downloading: 99 %"));
    EXPECT_FALSE(rig->flash1->calls.contains("Status=Downloading: 100 %"));
}

namespace {

// Counts what it is given, from whichever thread writes.
class CountingWriter : public platform::FileWriter {
  public:
    platform::Result<> Write(const char*, qint64 size) override {
        written += size;
        return {};
    }
    std::atomic<qint64> written{0};
};

// Holds the calling thread, without pumping its events, until `done` or 20 s.
bool HoldUntil(const std::function<bool()>& done) {
    QElapsedTimer held;
    held.start();
    while (!done() && held.elapsed() < 20000) {
        QThread::msleep(5);
    }
    return done();
}

}  // namespace

// The body is written on the transfer's own thread: it reaches the writer while the
// window's thread is held, its reports wait for the window's loop, and once Cancel has
// returned neither a byte nor a report follows.
TEST_F(UpdateCycle, TheTransferWritesOffTheWindowsThreadAndStopsAtCancel) {
    const qint64 size = 4 << 20;
    SiteFile("test/fotos/big.bin", Bytes(size, 'x'));
    Fault("/test/fotos/endless.bin", "trickle");
    const QString base = "http://127.0.0.1:" + QString::number(port) + "/test/fotos/";
    platform::CurlInet inet;
    QList<platform::Result<int>> states;
    inet.StateChanged = [&](const platform::Result<int>& state) { states << state; };

    CountingWriter writer;
    inet.SetBodyWriter(&writer);
    inet.Execute(base + "big.bin", "GET");
    EXPECT_TRUE(HoldUntil([&] { return writer.written == size; })) << writer.written;
    EXPECT_TRUE(states.isEmpty());
    ASSERT_TRUE(platform::WaitUntil(
        [&] {
            return !states.isEmpty() && states.last() &&
                   *states.last() == platform::kInetResponseReceived;
        },
        nullptr, 20000));
    EXPECT_EQ(inet.BodyBytes(), size);
    EXPECT_EQ(inet.ResponseCode(), 200);

    states.clear();
    auto endless = std::make_unique<CountingWriter>();
    inet.SetBodyWriter(endless.get());
    inet.Execute(base + "endless.bin", "GET");
    ASSERT_TRUE(HoldUntil([&] { return endless->written > 0; }));
    inet.Cancel();
    inet.SetBodyWriter(nullptr);
    endless.reset();  // a later write would touch freed memory (AddressSanitizer)
    states.clear();
    platform::WaitUntil([] { return false; }, nullptr, 1500);  // the site sends on
    EXPECT_TRUE(states.isEmpty());
}

// A site folder with its "fotos" folder, and the listing the tool writes beside it.
class ListingTool : public ::testing::Test {
  protected:
    void SetUp() override { QDir().mkpath(dir.path() + "/fotos/sub"); }
    void Write(const QString& name, const QByteArray& bytes) {
        QFile file(dir.path() + "/fotos/" + name);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
    QStringList Listing() {
        QFile out(dir.path() + "/dir.php");
        out.open(QIODevice::ReadOnly);
        return update::SplitListing(QString::fromUtf8(out.readAll()));
    }
    QTemporaryDir dir;
};

TEST_F(ListingTool, ListsPlainFilesWithAStampThatFollowsTheContent) {
    Write("b.jpg", "bbb");
    Write("a.png", "a");
    Write("bad,name.jpg", "x");
    const auto run = [&] {
        QProcess tool;
        tool.start(DRAVONELLE_LISTING_TOOL, {dir.path() + "/fotos", dir.path() + "/dir.php"});
        tool.waitForFinished(10000);
        return Listing();
    };
    const QStringList first = run();
    ASSERT_EQ(first.size(), 6);
    EXPECT_EQ(first[0], "a.png");
    EXPECT_EQ(first[2], "1");
    EXPECT_EQ(first[3], "b.jpg");
    EXPECT_EQ(first[5], "3");
    Write("b.jpg", "bbc");
    const QStringList second = run();
    EXPECT_EQ(second[1], first[1]);
    EXPECT_NE(second[4], first[4]);
}

TEST_F(ListingTool, WatchWritesTheListingAgainWhenTheFolderChanges) {
    Write("a.png", "a");
    QProcess tool;
    tool.start(DRAVONELLE_LISTING_TOOL,
               {"--watch", dir.path() + "/fotos", dir.path() + "/dir.php"});
    ASSERT_TRUE(PumpUntil([&] { return Listing().size() == 3; }, 10000));
    Write("b.jpg", "bbb");  // a new file
    ASSERT_TRUE(PumpUntil([&] { return Listing().size() == 6; }, 10000));
    const QString stamp = Listing()[4];
    Write("b.jpg", "bbc");  // the same file, changed in place
    EXPECT_TRUE(PumpUntil([&] { return Listing().size() == 6 && Listing()[4] != stamp; }, 10000));
    QFile::remove(dir.path() + "/fotos/a.png");
    EXPECT_TRUE(PumpUntil([&] { return Listing().size() == 3; }, 10000));
    tool.terminate();
    tool.waitForFinished(5000);
}

namespace {

// What the content folder holds, as the file system says it: each file's inode and time,
// and the folder's own time (a file made or removed in it changes that).
QStringList Stamps(const QString& folder) {
    QStringList stamps;
    const auto stamp = [&](const QString& path) {
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
            stamps << QStringLiteral("%1 %2 %3.%4")
                          .arg(QFileInfo(path).fileName())
                          .arg(info.st_ino)
                          .arg(info.st_mtim.tv_sec)
                          .arg(info.st_mtim.tv_nsec);
        }
    };
    stamp(folder);
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        stamp(folder + "/" + name);
    }
    return stamps;
}

}  // namespace

// A cycle in which nothing changed: the files fetched every cycle are asked for with what
// the site said of them and answered "not modified"; from a site that ignores that, a body
// that is the file in place is not written again. The content folder is not touched.
TEST_F(UpdateCycle, NothingChangedIsNeitherSentNorWritten) {
    rig->form->Form_Activate();
    rig->WaitForDisk();
    const QString folder = rig->Host("c:\\fileftp");
    const QStringList before = Stamps(folder);
    QFile::remove(State() + "/answers.log");
    Cycle();
    rig->WaitForDisk();
    EXPECT_EQ(Stamps(folder), before);
    QFile answers(State() + "/answers.log");
    ASSERT_TRUE(answers.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(answers.readAll()),
              "/test/flash.txt 304 0\n/test/dravonelle.swf 304 0\n/testdir.php 304 0\n"
              "/freedata/meerdaagsebanner.jpg 304 0\n");
    auto status = rig->form->status.Snapshot();
    EXPECT_EQ(status.lastCycle.saved[0], 5 + 14 + 25 + 6);  // not modified: every file's size
    EXPECT_EQ(status.lastCycle.fetched, 0);

    // A site that says nothing of its files and sends them whole: compared as they come.
    for (const char* path : {"/test/flash.txt", "/test/dravonelle.swf", "/testdir.php",
                             "/freedata/meerdaagsebanner.jpg"}) {
        Fault(path, "plain");
    }
    Cycle();
    rig->WaitForDisk();
    EXPECT_EQ(Stamps(folder), before);
    status = rig->form->status.Snapshot();
    EXPECT_EQ(status.lastCycle.saved[1], 5 + 14 + 25 + 6);  // unchanged: not written again
    // A change is written, whoever says what.
    SiteFile("test/flash.txt", "tekst nieuw");
    Cycle();
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\flash.txt"), "tekst nieuw");
    ClearFaults();
    SiteFile("test/flash.txt", "tekst");
    Cycle();
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\flash.txt"), "tekst");
}

// A large listed file whose transfer broke at 90 % is asked for from where it stopped;
// one that changed on the site meanwhile comes whole again. Either way it lands whole.
TEST_F(UpdateCycle, CutTransferGoesOnWhereItStopped) {
    rig->form->Form_Activate();
    QByteArray film(3 << 20, '\0');
    for (qsizetype i = 0; i < film.size(); ++i) {
        film[i] = static_cast<char>(i * 7 % 251);
    }
    for (const bool changedMeanwhile : {false, true}) {
        SCOPED_TRACE(changedMeanwhile ? "a file that changed meanwhile" : "the same file");
        SiteFile("test/fotos/film.bin", film);
        Fault("/test/fotos/film.bin", "cut:0.9");
        Listing(QByteArray("film.bin;s") + (changedMeanwhile ? "2" : "1") + ";3145728");
        Cycle();
        EXPECT_FALSE(rig->files->FileExists("c:\\fileftp\\Buffer\\film.bin"));
        ClearFaults();
        if (changedMeanwhile) {
            film[10] = 'x';
            SiteFile("test/fotos/film.bin", film);
        }
        QFile::remove(State() + "/answers.log");
        const quint64 resumedBefore = rig->form->status.Snapshot().bytesSaved[2];
        Cycle();
        rig->WaitForDisk();
        EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\Buffer\\film.bin"), film);
        QFile answers(State() + "/answers.log");
        ASSERT_TRUE(answers.open(QIODevice::ReadOnly));
        const QString log = QString::fromUtf8(answers.readAll());
        const quint64 resumed = rig->form->status.Snapshot().bytesSaved[2] - resumedBefore;
        if (changedMeanwhile) {
            EXPECT_EQ(resumed, 0u);  // asked for the rest, sent whole: fetched whole again
            EXPECT_TRUE(log.contains("/test/fotos/film.bin 200 3145728\n")) << log.toStdString();
        } else {
            EXPECT_GT(resumed, quint64(1) << 20);  // the part that had come
            EXPECT_TRUE(log.contains(
                QStringLiteral("/test/fotos/film.bin 206 %1\n").arg(film.size() - qint64(resumed))))
                << log.toStdString();
            EXPECT_FALSE(log.contains("/test/fotos/film.bin 200")) << log.toStdString();
        }
    }
}
