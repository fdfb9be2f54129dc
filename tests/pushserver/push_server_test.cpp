#include "platform/qt/subnet_filter.h"
#include "support/small_disk.h"
#include "support/test_rig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A peer that speaks the protocol by hand.
class Peer {
  public:
    explicit Peer(quint16 port, const QHostAddress& from = QHostAddress()) {
        if (!from.isNull()) {
            socket.bind(from);
        }
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket.connectToHost(QHostAddress::LocalHost, port);
        connected = PumpUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; });
    }
    // Sends one message and waits until the display has taken it (its reply, or a
    // moment of quiet for messages without one).
    QByteArray Send(const QByteArray& message, int replyBytes = 7) {
        socket.write(message);
        socket.flush();
        if (replyBytes == 0) {
            PumpUntil([] { return false; }, 150);
            return socket.readAll();
        }
        PumpUntil([&] { return socket.bytesAvailable() >= replyBytes || Closed(); }, 3000);
        return socket.read(replyBytes);
    }
    bool Closed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    bool WaitClosed() {
        return PumpUntil([&] { return Closed(); }, 3000);
    }

    QTcpSocket socket;
    bool connected = false;
};

class PushServer : public ::testing::Test {
  protected:
    explicit PushServer(TestRig::Options options = {}) : rig(options) {}
    void SetUp() override {
        rig.Load();
        rig.form->Form_Activate();  // creates the content folder
        port = rig.sockets->LocalPort(0);
    }
    // Runs the push client against the display; returns its exit status.
    int Push(const QStringList& args, QString* output = nullptr) {
        QProcess client;
        client.start(DRAVONELLE_PUSH_CLIENT,
                     QStringList({"--port", QString::number(port), "--timeout", "5"}) +
                         QStringList({"127.0.0.1"}) + args);
        PumpUntil([&] { return client.state() == QProcess::NotRunning; }, 30000);
        if (output) {
            *output = client.readAllStandardOutput() + client.readAllStandardError();
        }
        return client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
    }
    QString Local(const QString& name, const QByteArray& bytes) {
        const QString path = rig.temp.path() + "/" + name;
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return path;
    }
    QStringList ContentFiles() {
        return QDir(rig.Host("c:\\fileftp"))
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    TestRig rig;
    quint16 port = 0;
};

QByteArray Pattern(qsizetype size) {
    QByteArray bytes(size, 0);
    for (qsizetype i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    }
    return bytes;
}

}  // namespace

TEST_F(PushServer, ClientPushesSeveralFilesOverOneConnection) {
    const QByteArray big = Pattern(300 * 1024 + 17);
    QString output;
    ASSERT_EQ(Push({Local("a.bin", big) + "=News.swf", Local("b.txt", "hello"), Local("empty", "")},
                   &output),
              0)
        << output.toStdString();
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\News.swf"), big);
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\b.txt"), "hello");
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\empty"), "");
    EXPECT_TRUE(PumpUntil([&] { return rig.form->lblInfo->text() == "Connection Closed..."; }));
    // The name keeps its case, and no temporary file stays behind.
    EXPECT_EQ(ContentFiles(), QStringList({"News.swf", "b.txt", "empty"}));
}

TEST_F(PushServer, ClientKeepsDataThatLooksLikeControlWordsAsData) {
    const QByteArray tricky = "Msg_Eof_" + Pattern(100) + "Msg_Dst_xyz" + Pattern(50) + "Msg_Eof_";
    ASSERT_EQ(Push({"--chunk", "16", Local("t", tricky) + "=tricky.bin"}), 0);
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\tricky.bin"), tricky);
}

TEST_F(PushServer, PushOverALongerFileLeavesNoTail) {
    rig.WriteDriveFile("c:\\fileftp\\same.txt", "a much longer old content");
    ASSERT_EQ(Push({Local("s", "new") + "=same.txt"}), 0);
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\same.txt"), "new");
}

TEST_F(PushServer, ReadsAreClassifiedByTheirFirstEightBytes) {
    Peer peer(port);
    ASSERT_TRUE(peer.connected);
    EXPECT_TRUE(
        PumpUntil([&] { return rig.form->lblInfo->text() == "Connection Estabilished..."; }));
    EXPECT_EQ(peer.Send("Msg_Dst_000Case.bin"), "Msg_OkS");
    EXPECT_EQ(peer.Send("Msg_eof_"), "Msg_Rec");  // lower case: data
    EXPECT_EQ(peer.Send("Msg_Eo"), "Msg_Rec");    // shorter than 8: data
    EXPECT_EQ(peer.Send("abc"), "Msg_Rec");       // one chunk in two reads: two replies
    EXPECT_EQ(peer.Send("def"), "Msg_Rec");
    // The end of one file and the name of the next in one read: the name is lost.
    EXPECT_EQ(peer.Send("Msg_Eof_Msg_Dst_000Lost.bin", 0), "");
    EXPECT_EQ(rig.form->lblInfo->text(), "File Received...");
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\Case.bin"), "Msg_eof_Msg_Eoabcdef");
    EXPECT_FALSE(rig.files->FileExists("c:\\fileftp\\Lost.bin"));
    // Data that begins with a control word is taken for it.
    EXPECT_EQ(peer.Send("Msg_Dst_000Next.bin"), "Msg_OkS");
    EXPECT_EQ(peer.Send("Msg_Dst_000Other.bin"), "Msg_OkS");
    EXPECT_EQ(peer.Send("xyz"), "Msg_Rec");
    EXPECT_EQ(peer.Send("Msg_Eof_", 0), "");
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\Other.bin"), "xyz");
    EXPECT_FALSE(rig.files->FileExists("c:\\fileftp\\Next.bin"));
}

TEST_F(PushServer, DataBeforeDestinationClosesOnlyThatConnection) {
    Peer first(port);
    first.socket.write("stray data");
    EXPECT_TRUE(first.WaitClosed());
    EXPECT_EQ(rig.form->lblInfo->text(), "data before any destination");
    EXPECT_TRUE(rig.form->isEnabled());
    ASSERT_EQ(Push({Local("after", "still working") + "=after.txt"}), 0);
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\after.txt"), "still working");
}

TEST_F(PushServer, ShortDestinationIsAFailure) {
    Peer peer(port);
    peer.socket.write("Msg_Dst_00");
    EXPECT_TRUE(peer.WaitClosed());
    EXPECT_EQ(rig.form->lblInfo->text(), "destination message too short");
}

TEST_F(PushServer, NamesThatLeaveTheContentFolderWriteNothing) {
    QDir().mkpath(rig.Host("c:\\fileftp\\sub"));
    const QString outside = rig.temp.path() + "/outside.txt";
    const QStringList names = {"..\\outside.txt",
                               "../../outside.txt",
                               "/tmp/outside.txt",
                               "c:\\outside.txt",
                               "\\outside.txt",
                               "x*.txt",
                               "",
                               "sub\\",
                               "bad\x01name",
                               "missing\\dir.txt"};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        Peer peer(port);
        EXPECT_EQ(peer.Send("Msg_Dst_000" + name.toUtf8()), "Msg_OkS");
        peer.socket.write("payload");
        EXPECT_TRUE(peer.WaitClosed());
        EXPECT_TRUE(rig.form->lblInfo->text().startsWith("cannot store"))
            << rig.form->lblInfo->text().toStdString();
    }
    EXPECT_FALSE(QFile::exists(outside));
    EXPECT_FALSE(QFile::exists("/tmp/outside.txt"));
    EXPECT_TRUE(ContentFiles().isEmpty()) << ContentFiles().join(",").toStdString();
    // A folder part inside the content folder is allowed.
    ASSERT_EQ(Push({Local("in", "inside") + "=sub\\In.txt"}), 0);
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\sub\\In.txt"), "inside");
}

TEST_F(PushServer, CutTransferKeepsTheOldFile) {
    rig.WriteDriveFile("c:\\fileftp\\keep.swf", "old movie");
    {
        Peer peer(port);
        EXPECT_EQ(peer.Send("Msg_Dst_000keep.swf"), "Msg_OkS");
        EXPECT_EQ(peer.Send("half of the new"), "Msg_Rec");
        peer.socket.abort();
    }
    EXPECT_TRUE(PumpUntil([&] { return rig.form->lblInfo->text() == "Connection Closed..."; }));
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\keep.swf"), "old movie");
    EXPECT_EQ(ContentFiles(), QStringList({"keep.swf"}));
    // A new destination in the middle of a file drops the unfinished one too.
    Peer peer(port);
    EXPECT_EQ(peer.Send("Msg_Dst_000keep.swf"), "Msg_OkS");
    EXPECT_EQ(peer.Send("partial"), "Msg_Rec");
    EXPECT_EQ(peer.Send("Msg_Dst_000other.swf"), "Msg_OkS");
    EXPECT_EQ(peer.Send("Msg_Eof_", 0), "");
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\keep.swf"), "old movie");
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\other.swf"), "");
}

TEST_F(PushServer, NewConnectionTakesThePlaceOfThePreviousOne) {
    Peer first(port);
    EXPECT_EQ(first.Send("Msg_Dst_000one.txt"), "Msg_OkS");
    EXPECT_EQ(first.Send("unfinished"), "Msg_Rec");
    Peer second(port);
    EXPECT_TRUE(first.WaitClosed());
    EXPECT_EQ(second.Send("Msg_Dst_000two.txt"), "Msg_OkS");
    EXPECT_EQ(second.Send("done"), "Msg_Rec");
    EXPECT_EQ(second.Send("Msg_Eof_", 0), "");
    EXPECT_EQ(ContentFiles(), QStringList({"two.txt"}));
}

// A peer may close right after "Msg_Eof_", which has no reply, and the next push may
// connect at once: the end that already arrived still completes the file.
TEST_F(PushServer, FileWhoseEndArrivedIsKeptWhenThePeerClosesAndTheNextConnects) {
    constexpr int kPushes = 200;
    std::vector<std::unique_ptr<Peer>> peers;
    for (int i = 0; i < kPushes; ++i) {
        auto peer = std::make_unique<Peer>(port);
        ASSERT_TRUE(peer->connected) << i;
        const QByteArray name = QByteArray::number(i) + ".txt";
        ASSERT_EQ(peer->Send("Msg_Dst_000" + name), "Msg_OkS") << i;
        ASSERT_EQ(peer->Send("push " + name), "Msg_Rec") << i;
        peer->socket.write("Msg_Eof_");
        peer->socket.flush();
        if (i % 2 == 0) {
            peer->socket.disconnectFromHost();
        }  // else left open, to be replaced by the next connection
        peers.push_back(std::move(peer));
    }
    PumpUntil([&] { return ContentFiles().filter(QRegularExpression("^\\d")).size() == kPushes; },
              5000);
    int kept = 0;
    for (int i = 0; i < kPushes; ++i) {
        const QByteArray name = QByteArray::number(i) + ".txt";
        const bool whole = rig.ReadDriveFile("c:\\fileftp\\" + QString(name)) == "push " + name;
        EXPECT_TRUE(whole) << name.toStdString();
        kept += whole;
    }
    EXPECT_EQ(kept, kPushes);
}

TEST_F(PushServer, SocketErrorIsReportedOnTheStatusLine) {
    const QString before = rig.form->lblInfo->text();
    rig.form->WskServer_Error(1, 0, "nothing");
    EXPECT_EQ(rig.form->lblInfo->text(), before);
    rig.form->WskServer_Error(1, 10054, "reset");
    EXPECT_EQ(rig.form->lblInfo->text(), "10054");
}

namespace {

TestRig::Options SmallDiskOptions() {
    TestRig::Options options;
    options.wrapFiles = [](std::unique_ptr<platform::FileSystem> real) {
        return std::make_unique<SmallDisk>(std::move(real), 10);
    };
    options.pushIdleMs = 1000;
    return options;
}

// A disk with 4 KiB to spare above the reserve.
TestRig::Options ReserveOptions() {
    TestRig::Options options;
    options.reserve.keepFreeBytes = qint64(256) << 20;
    options.reserve.freeBytes = [](const QString&) { return (qint64(256) << 20) + 4096; };
    return options;
}

class PushServerAtTheReserve : public PushServer {
  protected:
    PushServerAtTheReserve() : PushServer(ReserveOptions()) {}
};

class PushServerOnSmallDisk : public PushServer {
  protected:
    PushServerOnSmallDisk() : PushServer(SmallDiskOptions()) {}
};

}  // namespace

TEST_F(PushServerOnSmallDisk, FailedWriteIsReportedAndNothingIsLost) {
    rig.WriteDriveFile("c:\\fileftp\\big.swf", "the old movie");
    QString output;
    EXPECT_EQ(Push({Local("big", Pattern(5000)) + "=big.swf"}, &output), 4);
    EXPECT_TRUE(QRegularExpression(R"(^disk full: \d+ bytes wanted for c:\\fileftp\\big\.swf$)")
                    .match(rig.form->lblInfo->text())
                    .hasMatch())
        << rig.form->lblInfo->text().toStdString();
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\big.swf"), "the old movie");
    EXPECT_EQ(ContentFiles(), QStringList({"big.swf"}));
    ASSERT_EQ(Push({Local("small", "tiny") + "=small.txt"}), 0);  // still listening
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\small.txt"), "tiny");
}

TEST_F(PushServerAtTheReserve, PushThatWouldEatIntoTheReserveIsNotWritten) {
    rig.WriteDriveFile("c:\\fileftp\\big.swf", "the old movie");
    EXPECT_EQ(Push({Local("big", Pattern(20000)) + "=big.swf"}), 4);
    EXPECT_TRUE(rig.form->lblInfo->text().startsWith("disk full: "))
        << rig.form->lblInfo->text().toStdString();
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\big.swf"), "the old movie");
    EXPECT_EQ(ContentFiles(), QStringList({"big.swf"}));
    ASSERT_EQ(Push({Local("small", "tiny") + "=small.txt"}), 0);
}

TEST_F(PushServerOnSmallDisk, SilentConnectionIsClosedAfterTheIdleTime) {
    Peer peer(port);
    EXPECT_EQ(peer.Send("Msg_Dst_000slow.txt"), "Msg_OkS");
    EXPECT_TRUE(peer.WaitClosed());
    EXPECT_FALSE(rig.files->FileExists("c:\\fileftp\\slow.txt"));
    EXPECT_EQ(ContentFiles(), QStringList());
}

TEST(PushClient, ReportsAMissingDisplayAndMissingFiles) {
    QProcess client;
    client.start(DRAVONELLE_PUSH_CLIENT, {"--port", "1", "--timeout", "2", "127.0.0.1",
                                          DRAVONELLE_TEST_DATA "/CMakeLists.txt"});
    ASSERT_TRUE(client.waitForFinished(10000));
    EXPECT_EQ(client.exitCode(), 3);
    client.start(DRAVONELLE_PUSH_CLIENT, {"127.0.0.1", "/no/such/file"});
    ASSERT_TRUE(client.waitForFinished(10000));
    EXPECT_EQ(client.exitCode(), 5);
}

// The same files to several displays at once: two that take them, one that is off and one
// that cuts the connection; neither of the last two holds up the others.
TEST(PushClient, SameFilesGoToEveryDisplayAndTheTableSaysWhichGotThem) {
    std::vector<std::unique_ptr<TestRig>> displays;
    QStringList names;
    for (int i = 0; i < 2; ++i) {
        displays.push_back(std::make_unique<TestRig>());
        displays.back()->Load();
        displays.back()->form->Form_Activate();
        names << "127.0.0.1:" + QString::number(displays.back()->sockets->LocalPort(0));
    }
    QTcpServer cutter;  // takes the first message, then hangs up
    ASSERT_TRUE(cutter.listen(QHostAddress::LocalHost));
    QObject::connect(&cutter, &QTcpServer::newConnection, [&] {
        QTcpSocket* peer = cutter.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, peer, [peer] { peer->abort(); });
    });
    QTcpServer probe;  // a port that nobody listens on
    probe.listen(QHostAddress::LocalHost);
    const QString off = "127.0.0.1:" + QString::number(probe.serverPort());
    probe.close();
    const QString cut = "127.0.0.1:" + QString::number(cutter.serverPort());

    QTemporaryDir local;
    QFile list(local.path() + "/displays");
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write(("# the hall\n" + names[0] + "  # by the door\n\n" + names[1] + "\n").toUtf8());
    list.close();
    QStringList files;
    for (const QString name : {"a.txt", "b.swf"}) {
        QFile file(local.path() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(100000, name[0].toLatin1()));
        files << file.fileName();
    }
    QProcess client;
    QElapsedTimer clock;
    clock.start();
    client.start(DRAVONELLE_PUSH_CLIENT,
                 QStringList{"--timeout", "3", "--parallel", "3", "--hosts", list.fileName(),
                             "--host", off, "--host", cut} +
                     files);
    ASSERT_TRUE(PumpUntil([&] { return client.state() == QProcess::NotRunning; }, 30000));
    const QString output = client.readAllStandardOutput();
    EXPECT_EQ(client.exitCode(), 6) << output.toStdString();
    EXPECT_LT(clock.elapsed(), 15000);
    for (const auto& display : displays) {
        for (const char* name : {"a.txt", "b.swf"}) {
            EXPECT_EQ(display->ReadDriveFile(QString("c:\\fileftp\\") + name).size(), 100000);
        }
    }
    const QStringList lines = output.split('\n');
    const auto row = [&](const QString& display) {
        const QStringList found =
            lines.filter(QRegularExpression("^" + QRegularExpression::escape(display) + " +\\d"));
        return found.isEmpty() ? QString() : found.last().simplified();
    };
    for (const QString& name : names) {
        EXPECT_TRUE(row(name).startsWith(name + " 2 200000 ")) << row(name).toStdString();
        EXPECT_TRUE(row(name).endsWith(" s ok")) << row(name).toStdString();
    }
    EXPECT_TRUE(row(off).contains("cannot connect")) << output.toStdString();
    EXPECT_TRUE(row(cut).contains("closed the connection")) << output.toStdString();
    // Off a terminal, a line per display as it ends, besides the table.
    EXPECT_EQ(lines.filter(QRegularExpression(": ok, 2 files, 200000 bytes")).size(), 2);
}

// ---- The operator's import ----

TEST_F(PushServer, ImportCopiesUnderLowerCasedNames) {
    const QString folder = rig.temp.path() + "/stick";
    QDir().mkpath(folder);
    for (const char* name : {"Photo.JPG", "A.swf", "b.TXT", "News.Jpg"}) {
        QFile file(folder + "/" + name);
        file.open(QIODevice::WriteOnly);
        file.write(name);
    }
    rig.WriteDriveFile("c:\\fileftp\\a.swf", "old");
    rig.dialog->nextName = folder + "/Photo.JPG";
    rig.dialog->nextTitle = "Photo.JPG";
    rig.form->FileCopyButton_Click();
    ASSERT_TRUE(PumpUntil([&] { return !rig.form->Importing(); }));
    EXPECT_TRUE(rig.files->FileExists("c:\\fileftp\\photo.jpg"));
    rig.dialog->nextName = folder + QChar(0) + "A.swf" + QChar(0) + "b.TXT" + QChar(0) +
                           "Missing.png" + QChar(0) + "News.Jpg";
    rig.dialog->nextTitle = "";
    rig.form->FileCopyButton_Click();
    ASSERT_TRUE(PumpUntil([&] { return !rig.form->Importing(); }));
    EXPECT_EQ(ContentFiles(), QStringList({"a.swf", "b.txt", "news.jpg", "photo.jpg"}));
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\a.swf"), "A.swf");
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\news.jpg"), "News.Jpg");
    EXPECT_EQ(rig.form->lblInfo->text(), "Copy failed: Missing.png (no such file)");
    // A cancelled dialog copies nothing.
    rig.dialog->nextName = "";
    rig.form->FileCopyButton_Click();
    EXPECT_EQ(ContentFiles().size(), 4);
    EXPECT_EQ(rig.dialog->shown, 3);
}

TEST(PushAllowList, EntriesAndTheAddressesTheyAllow) {
    struct Case {
        QString entries;
        QStringList allowed;
        QStringList refused;
        QStringList malformed;
    };
    const QList<Case> cases = {
        {"127.0.0.2", {"127.0.0.2", "::ffff:127.0.0.2"}, {"127.0.0.1", "", "nonsense"}, {}},
        {" 10.0.0.0/8 , ::1 ", {"10.200.3.4", "::1"}, {"11.0.0.1", "::2"}, {}},
        {"fe80::/10,192.168.1.0/24", {"fe80::1", "192.168.1.77"}, {"192.168.2.1", "fe00::1"}, {}},
        {"::ffff:127.0.0.1", {"127.0.0.1"}, {"127.0.0.2"}, {}},
        // Malformed entries are left out; a list of nothing but those allows no one.
        {"bogus,10.0.0.0/33,1.2.3",
         {},
         {"10.0.0.1", "1.2.3.0", "127.0.0.1"},
         {"bogus", "10.0.0.0/33", "1.2.3"}},
        {"host.example, 127.0.0.1", {"127.0.0.1"}, {"127.0.0.2"}, {"host.example"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries.toStdString());
        QStringList malformed;
        const platform::SubnetFilter filter(c.entries, &malformed);
        EXPECT_EQ(malformed, c.malformed);
        for (const QString& address : c.allowed) {
            EXPECT_TRUE(filter.Allows(address)) << address.toStdString();
        }
        for (const QString& address : c.refused) {
            EXPECT_FALSE(filter.Allows(address)) << address.toStdString();
        }
    }
}

TEST(PushAllowList, ReadFromTheConfigFile) {
    QTemporaryDir dir;
    QFile ini(dir.path() + "/dravonelle.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[system]\npush_allow=10.0.0.1, 192.168.0.0/16, nonsense\nother=\n");
    ini.close();
    const QSettings settings(ini.fileName(), QSettings::IniFormat);
    QStringList malformed;
    const auto filter =
        platform::SubnetFilter::FromSetting(settings.value("system/push_allow"), &malformed);
    ASSERT_TRUE(filter);
    EXPECT_TRUE(filter->Allows("10.0.0.1"));
    EXPECT_TRUE(filter->Allows("192.168.4.5"));
    EXPECT_FALSE(filter->Allows("10.0.0.2"));
    EXPECT_EQ(malformed, QStringList({"nonsense"}));
    for (const char* absent : {"system/other", "system/missing"}) {
        EXPECT_FALSE(platform::SubnetFilter::FromSetting(settings.value(absent), &malformed));
    }
}

// A peer outside the list is closed unread and leaves the push under way alone.
TEST(PushAllowList, ListedPeerPushesAndOthersAreRefusedUnread) {
    for (const auto& [allowed, refused] :
         {std::pair<QString, QString>{"127.0.0.2", "127.0.0.1"}, {"127.0.0.1", "127.0.0.2"}}) {
        SCOPED_TRACE(allowed.toStdString());
        TestRig::Options options;
        options.customize = [allowed = allowed](platform::Platform& p) {
            p.pushAllow = std::make_unique<platform::SubnetFilter>(allowed);
        };
        TestRig rig(options);
        rig.Load();
        rig.form->Form_Activate();
        const quint16 port = rig.sockets->LocalPort(0);
        Peer good(port, QHostAddress(allowed));
        ASSERT_TRUE(good.connected);
        EXPECT_EQ(good.Send("Msg_Dst_000a.txt"), "Msg_OkS");
        Peer bad(port, QHostAddress(refused));
        bad.socket.write("Msg_Dst_000evil.txt");
        EXPECT_TRUE(bad.WaitClosed());
        EXPECT_EQ(bad.socket.readAll(), "");
        EXPECT_EQ(rig.form->lblInfo->text(), "Connection refused: " + refused);
        EXPECT_EQ(good.Send("kept"), "Msg_Rec");
        EXPECT_EQ(good.Send("Msg_Eof_", 0), "");
        EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\a.txt"), "kept");
        EXPECT_FALSE(rig.files->FileExists("c:\\fileftp\\evil.txt"));
    }
}

namespace {

class PushServerWithABound : public PushServer {
  protected:
    static TestRig::Options Bounded() {
        TestRig::Options options;
        options.customize = [](platform::Platform& p) { p.pushMaxBytes = 1000; };
        return options;
    }
    PushServerWithABound() : PushServer(Bounded()) {}
};

}  // namespace

TEST_F(PushServerWithABound, PushPastTheBoundIsDroppedAndTheOldFileStays) {
    rig.WriteDriveFile("c:\\fileftp\\big.swf", "the old movie");
    EXPECT_NE(Push({Local("big", Pattern(3000)) + "=big.swf"}), 0);
    EXPECT_EQ(rig.form->lblInfo->text(),
              "push larger than 1000 bytes: c:\\fileftp\\big.swf dropped");
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\big.swf"), "the old movie");
    EXPECT_EQ(ContentFiles(), QStringList({"big.swf"}));
    ASSERT_EQ(Push({Local("small", Pattern(1000)) + "=small.bin"}), 0);  // up to the bound
    EXPECT_EQ(rig.ReadDriveFile("c:\\fileftp\\small.bin"), Pattern(1000));
}
