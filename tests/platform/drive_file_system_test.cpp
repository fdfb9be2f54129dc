#include "platform/qt/drive_file_system.h"
#include "support/test_rig.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// The size of the file that a drive path names, or -1 when it is refused or missing.
qint64 SizeOf(const platform::FileSystem& fs, const QString& path) {
    const auto host = fs.HostPath(path);
    return host && QFileInfo(*host).isFile() ? QFileInfo(*host).size() : -1;
}

// The new version of a file, or nullptr (and a failed expectation) with the reason.
std::unique_ptr<platform::DurableFile> Open(platform::FileSystem& fs, const QString& path) {
    auto created = fs.CreateDurable(path);
    EXPECT_TRUE(created) << created.reason().toStdString();
    return created ? std::move(*created) : nullptr;
}

// Commits and waits for the result, which never comes inside the call.
platform::Result<> Commit(platform::DurableFile& file) {
    std::optional<platform::Result<>> result;
    file.Commit([&](const platform::Result<>& committed) { result = committed; });
    EXPECT_FALSE(result.has_value());
    PumpUntil([&] { return result.has_value(); }, 10000);
    return result.value_or(platform::Fail("no answer"));
}

// Moves and waits; the failures.
QStringList Move(platform::FileSystem& fs, const platform::FileSystem::Moves& moves) {
    std::optional<QStringList> result;
    fs.MoveFiles(moves, [&](const QStringList& failures) { result = failures; });
    EXPECT_FALSE(result.has_value());
    PumpUntil([&] { return result.has_value(); }, 10000);
    return result.value_or(QStringList{"no answer"});
}

struct Drive {
    QTemporaryDir temp;
    platform::DriveFileSystem fs{temp.path() + "/drive_c"};
    QString Root() const { return fs.DriveFolder(); }
    // Copies through the worker and waits for the result; the percentages in `shown`.
    bool Copy(const QString& source, const QString& target, QList<int>* shown = nullptr) {
        std::optional<bool> result;
        fs.CopyFile(
            source, target, [shown](int percent) { shown ? shown->append(percent) : void(); },
            [&](const platform::Result<>& copied) { result = copied.ok(); });
        EXPECT_FALSE(result.has_value());  // never inside the call
        PumpUntil([&] { return result.has_value(); }, 10000);
        return result.value_or(false);
    }
    void Write(const QString& drivePath, const QByteArray& bytes) {
        auto writer = Open(fs, drivePath);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->Write(bytes));
        ASSERT_TRUE(Commit(*writer));
    }
};

}  // namespace

TEST(DriveFileSystem, NamesMatchWithoutRegardToCase) {
    Drive d;
    ASSERT_TRUE(d.fs.CreateFolder("c:\\fileftp"));
    ASSERT_TRUE(d.fs.CreateFolder("c:\\fileftp\\Buffer"));
    EXPECT_FALSE(d.fs.CreateFolder("C:\\FILEFTP\\buffer"));  // exists already
    d.Write("c:\\fileftp\\BUFFER\\Photo.JPG", "x");
    // Created with the spelling given, found with any other.
    EXPECT_TRUE(QFile::exists(d.Root() + "/fileftp/Buffer/Photo.JPG"));
    EXPECT_TRUE(d.fs.FileExists("c:/FileFtp/buffer/photo.jpg"));
    EXPECT_EQ(d.fs.ListPlainFiles("c:\\fileftp\\BUFFER\\"), QStringList({"Photo.JPG"}));
    // Writing under another spelling replaces the existing file.
    d.Write("c:\\fileftp\\buffer\\PHOTO.jpg", "yy");
    EXPECT_EQ(d.fs.ListPlainFiles("c:\\fileftp\\Buffer"), QStringList({"Photo.JPG"}));
    EXPECT_EQ(SizeOf(d.fs, "c:\\fileftp\\Buffer\\photo.jpg"), 2);
}

TEST(DriveFileSystem, LettersBeyondAsciiMatchWithoutRegardToCase) {
    Drive d;
    (void)d.fs.CreateFolder("c:\\f");
    d.Write(QString::fromUtf8("c:\\f\\Überzicht Ñandú.jpg"), "x");
    EXPECT_TRUE(d.fs.FileExists(QString::fromUtf8("c:\\F\\überZICHT ñANDÚ.JPG")));
    EXPECT_FALSE(d.fs.FileExists(QString::fromUtf8("c:\\f\\Uberzicht Nandu.jpg")));
}

TEST(DriveFileSystem, ExactSpellingWinsWhenSeveralMatch) {
    Drive d;
    QDir().mkpath(d.Root() + "/f");
    QFile a(d.Root() + "/f/News.swf");
    ASSERT_TRUE(a.open(QIODevice::WriteOnly));
    a.write("a");
    a.close();
    QFile b(d.Root() + "/f/news.swf");
    ASSERT_TRUE(b.open(QIODevice::WriteOnly));
    b.write("bb");
    b.close();
    EXPECT_EQ(SizeOf(d.fs, "c:\\f\\news.swf"), 2);
    EXPECT_EQ(SizeOf(d.fs, "c:\\f\\News.swf"), 1);
}

TEST(DriveFileSystem, PathsThatLeaveTheDriveAreRefused) {
    Drive d;
    QTemporaryDir outside;
    const QString victim = outside.path() + "/victim.txt";
    QFile v(victim);
    ASSERT_TRUE(v.open(QIODevice::WriteOnly));
    v.write("keep");
    v.close();
    const QString climb = "c:\\fileftp\\..\\..\\..\\..\\..\\..\\..\\..\\" + victim.mid(1);
    EXPECT_FALSE(d.fs.HostPath(climb).has_value());
    EXPECT_FALSE(d.fs.DeleteFile(climb));
    EXPECT_FALSE(d.fs.CreateDurable(climb));
    EXPECT_FALSE(d.fs.HostPath("d:\\x").has_value());
    EXPECT_FALSE(d.fs.HostPath("fileftp\\x").has_value());
    EXPECT_FALSE(d.fs.IsDrivePath("/etc/passwd"));
    EXPECT_TRUE(QFile::exists(victim));
    // A ".." that stays inside is fine.
    EXPECT_EQ(*d.fs.HostPath("c:\\a\\..\\b"), d.Root() + "/b");
}

TEST(DriveFileSystem, FirstItemIsReadAsCommaDelimitedText) {
    Drive d;
    (void)d.fs.CreateFolder("c:\\t");
    d.Write("c:\\t\\plain.txt", "a;1;2;b;3;4,ignored\nsecond line");
    EXPECT_EQ(*d.fs.ReadFirstItem("c:\\t\\plain.txt"), "a;1;2;b;3;4");
    d.Write("c:\\t\\quoted.txt", "  \"a,b;1;2\",x\r\n");
    EXPECT_EQ(*d.fs.ReadFirstItem("c:\\t\\quoted.txt"), "a,b;1;2");
    d.Write("c:\\t\\empty.txt", "");
    EXPECT_EQ(*d.fs.ReadFirstItem("c:\\t\\empty.txt"), "");
    EXPECT_FALSE(d.fs.ReadFirstItem("c:\\t\\missing.txt").has_value());
}

TEST(DriveFileSystem, CopyAndReplaceKeepTheOldFileOnFailure) {
    Drive d;
    (void)d.fs.CreateFolder("c:\\t");
    d.Write("c:\\t\\target", "old content that is longer");
    EXPECT_FALSE(d.Copy("c:\\t\\missing", "c:\\t\\target"));
    EXPECT_EQ(SizeOf(d.fs, "c:\\t\\target"), 26);
    d.Write("c:\\t\\new", "new");
    EXPECT_TRUE(d.Copy(d.Root() + "\\t\\new", "c:\\t\\TARGET"));
    EXPECT_EQ(SizeOf(d.fs, "c:\\t\\target"), 3);
    EXPECT_EQ(d.fs.ListPlainFiles("c:\\t"), QStringList({"new", "target"}));
    // A large copy reports its progress in whole percent, up to 100.
    d.Write("c:\\t\\big", QByteArray(5 << 20, 'b'));
    QList<int> shown;
    EXPECT_TRUE(d.Copy(d.Root() + "/t/big", "c:\\t\\copy", &shown));
    EXPECT_EQ(shown, QList<int>({20, 40, 60, 80, 100}));
    EXPECT_EQ(SizeOf(d.fs, "c:\\t\\copy"), 5 << 20);
    EXPECT_TRUE(d.fs.DeleteFile("c:\\t\\copy") && d.fs.DeleteFile("c:\\t\\big"));
    // A move that fails is named; the others in the batch are made.
    d.Write("c:\\t\\other", "other");
    EXPECT_EQ(
        Move(d.fs, {{"c:\\t\\missing", "c:\\t\\target"},
                    {"c:\\t\\new", "c:\\t\\target"},
                    {"c:\\..\\x", "c:\\t\\x"},
                    {"c:\\t\\other", "c:\\t\\moved"}}),
        QStringList({"c:\\..\\x: path leaves the drive", "missing: No such file or directory"}));
    EXPECT_EQ(SizeOf(d.fs, "c:\\t\\target"), 3);
    EXPECT_EQ(d.fs.ListPlainFiles("c:\\t"), QStringList({"moved", "target"}));
    // A discarded file leaves the target as it was; a file is committed once only.
    auto discarded = Open(d.fs, "c:\\t\\target");
    ASSERT_TRUE(discarded && discarded->Write("discarded"));
    discarded->Discard();
    EXPECT_EQ(SizeOf(d.fs, "c:\\t\\target"), 3);
    EXPECT_TRUE(d.fs.ListHiddenFiles("c:\\t").isEmpty());
    EXPECT_EQ(Commit(*discarded).reason(), "already committed");
}

TEST(DriveFileSystem, HiddenFilesAndFoldersAreNotListed) {
    Drive d;
    (void)d.fs.CreateFolder("c:\\t");
    (void)d.fs.CreateFolder("c:\\t\\sub");
    d.Write("c:\\t\\.part", "x");
    d.Write("c:\\t\\shown", "x");
    EXPECT_EQ(d.fs.ListPlainFiles("c:\\t"), QStringList({"shown"}));
}

// A failed write is told as "disk full" when the disk is, with the bytes wanted, and
// keeps its kind; a reason that merely reads "disk full" is not taken for one.
TEST(DriveFileSystem, FailedWritesAreToldWithWhatWasWanted) {
    using platform::FailureKind;
    const struct {
        platform::Failure error;
        const char* told;
        FailureKind kind;
    } cases[] = {
        {platform::DiskFull(), "disk full: 5000 bytes wanted for c:\\x.swf",
         FailureKind::kDiskFull},
        {platform::Fail("Permission denied"), "cannot write c:\\x.swf: Permission denied",
         FailureKind::kOther},
        {platform::Fail("disk full"), "cannot write c:\\x.swf: disk full", FailureKind::kOther},
    };
    for (const auto& c : cases) {
        const platform::Failure told = platform::WriteFailure("c:\\x.swf", c.error, 5000);
        EXPECT_EQ(told.reason, c.told);
        EXPECT_EQ(told.kind, c.kind) << c.told;
    }
}

// Writes, and copies in, leave the reserve free; the file system is asked again only
// once what it had to spare has been written.
TEST(DriveFileSystem, WritesLeaveTheReserveFree) {
    QTemporaryDir temp;
    qint64 free = 0;
    int asked = 0;
    platform::DiskReserve reserve;
    reserve.keepFreeBytes = 1 << 20;
    // A file system with `free` bytes before the files in the folder asked about.
    reserve.freeBytes = [&](const QString& folder) {
        ++asked;
        qint64 used = 0;
        for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
            used += file.size();
        }
        return free - used;
    };
    platform::DriveFileSystem fs(temp.path() + "/drive_c", reserve);
    const QByteArray block(64 * 1024, 'x');

    free = (qint64(1) << 30);  // ample: asked once for a thousand blocks
    auto writer = Open(fs, "c:\\ample.bin");
    ASSERT_TRUE(writer);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(writer->Write(block)) << i;
    }
    EXPECT_TRUE(Commit(*writer));
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(fs.DeleteFile("c:\\ample.bin"));

    free = reserve.keepFreeBytes + 100 * 1024;  // room for one block, not two
    writer = Open(fs, "c:\\tight.bin");
    ASSERT_TRUE(writer);
    EXPECT_TRUE(writer->Write(block));
    EXPECT_EQ(writer->Write(block).kind(), platform::FailureKind::kDiskFull);
    // The failure stays: the commit reports it, and the target is never made.
    const auto committed = Commit(*writer);
    EXPECT_EQ(committed.reason(), platform::kDiskFull);
    EXPECT_EQ(committed.kind(), platform::FailureKind::kDiskFull);
    EXPECT_FALSE(fs.FileExists("c:\\tight.bin"));

    // An import that does not fit leaves the old file as it was.
    ASSERT_TRUE(fs.CreateFolder("c:\\fileftp"));
    QFile old(fs.HostPath("c:\\fileftp\\film.mpg").value());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old film");
    old.close();
    QFile source(temp.path() + "/film.mpg");
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write(QByteArray(300 * 1024, 'f'));
    source.close();
    std::optional<QString> result;
    fs.CopyFile(
        source.fileName(), "c:\\fileftp\\film.mpg", [](int) {},
        [&](const platform::Result<>& copied) { result = copied.reason(); });
    ASSERT_TRUE(PumpUntil([&] { return result.has_value(); }, 10000));
    EXPECT_EQ(*result, platform::kDiskFull);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "old film");
}

// A symbolic link out of the drive is refused as ".." is, for every operation; a link
// within the drive is followed.
TEST(DriveFileSystem, LinksOutOfTheDriveAreRefused) {
    Drive d;
    QTemporaryDir outside;
    QFile secret(outside.path() + "/secret.txt");
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("secret");
    secret.close();
    ASSERT_TRUE(d.fs.CreateFolder("c:\\fileftp"));
    d.Write("c:\\fileftp\\inside.txt", "inside");
    ASSERT_TRUE(QFile::link(outside.path() + "/secret.txt", d.Root() + "/fileftp/file.txt"));
    ASSERT_TRUE(QFile::link(outside.path(), d.Root() + "/fileftp/folder"));
    ASSERT_TRUE(QFile::link(d.Root() + "/fileftp/inside.txt", d.Root() + "/fileftp/alias.txt"));

    for (const QString path : {"c:\\fileftp\\file.txt", "c:\\fileftp\\folder\\secret.txt",
                               "c:\\fileftp\\FOLDER\\new.txt", "c:\\fileftp\\folder"}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_FALSE(d.fs.HostPath(path));
        EXPECT_FALSE(d.fs.FileExists(path));
        EXPECT_FALSE(d.fs.FolderExists(path));
        EXPECT_FALSE(d.fs.ReadFirstItem(path));
        EXPECT_FALSE(d.fs.CreateDurable(path));
        EXPECT_FALSE(d.fs.DeleteFile(path));
        EXPECT_FALSE(d.Copy(path, "c:\\fileftp\\copy.txt"));
    }
    EXPECT_TRUE(d.fs.ListPlainFiles("c:\\fileftp\\folder").isEmpty());
    EXPECT_TRUE(secret.exists());
    EXPECT_EQ(d.fs.ReadFirstItem("c:\\fileftp\\alias.txt"), "inside");
}

// A folder's figures come through the event loop: its files and their bytes, its
// subfolders' included and links left out, and the room on its disk.
TEST(DriveFileSystem, FolderFiguresCountWhatTheFolderHolds) {
    Drive d;
    QTemporaryDir outside;
    QFile secret(outside.path() + "/secret.txt");
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write(QByteArray(1000, 's'));
    secret.close();
    ASSERT_TRUE(d.fs.CreateFolder("c:\\fileftp"));
    ASSERT_TRUE(d.fs.CreateFolder("c:\\fileftp\\fotos"));
    d.Write("c:\\fileftp\\dravonelle.swf", QByteArray(300, 'm'));
    d.Write("c:\\fileftp\\fotos\\a.jpg", QByteArray(20, 'a'));
    d.Write("c:\\fileftp\\fotos\\b.jpg", QByteArray(1, 'b'));
    ASSERT_TRUE(QFile::link(secret.fileName(), d.Root() + "/fileftp/link.txt"));

    struct Case {
        const char* folder;
        qint64 files;
        qint64 bytes;
        bool room;  // the disk's free bytes are known
    };
    const Case cases[] = {
        {"c:\\fileftp", 3, 321, true},
        {"C:\\FILEFTP\\Fotos", 2, 21, true},
        {"c:\\fileftp\\not made yet", 0, 0, true},
        {"c:\\..\\elsewhere", -1, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        std::optional<platform::FileSystem::FolderFigures> figures;
        d.fs.MeasureFolder(c.folder, [&](const auto& measured) { figures = measured; });
        EXPECT_FALSE(figures.has_value());  // never inside the call
        ASSERT_TRUE(PumpUntil([&] { return figures.has_value(); }, 10000));
        EXPECT_EQ(figures->files, c.files);
        EXPECT_EQ(figures->bytes, c.bytes);
        EXPECT_EQ(figures->freeBytes > 0, c.room);
    }
}

// Each new version is on the disk before its rename and its folder after; all of it on
// the commit worker, in the order asked, while the window's thread goes on. Renames that
// follow one another put their folders on the disk once, before any of them is told
// done. Two versions of one name under way at once end with the later one.
TEST(DriveFileSystem, CommitsRunInOrderOffTheWindowsThread) {
    Drive d;
    ASSERT_TRUE(d.fs.CreateFolder("c:\\f") && d.fs.CreateFolder("c:\\f\\BUFFER"));
    QMutex lock;
    QStringList steps;
    bool onWindowThread = false;
    d.fs.SetTrace([&](const char* step, const QString& path) {
        QThread::msleep(100);  // a slow card
        QMutexLocker locked(&lock);
        steps << QString::fromLatin1(step) + ' ' +
                     QFileInfo(path).fileName().replace(
                         QRegularExpression("\\.\\d+\\.dravonelle-part$"), ".part");
        onWindowThread = onWindowThread || QThread::currentThread() == qApp->thread();
    });
    auto first = Open(d.fs, "c:\\f\\a");
    auto second = Open(d.fs, "c:\\f\\a");
    auto photo = Open(d.fs, "c:\\f\\BUFFER\\p.jpg");
    auto dropped = Open(d.fs, "c:\\f\\dropped");  // a push that broke off: never synced
    ASSERT_TRUE(first && second && photo && dropped && dropped->Write("half"));
    dropped->Discard();
    ASSERT_TRUE(first->Write("first") && second->Write("second!") && photo->Write("jpg"));
    QStringList done;
    for (auto* file : {first.get(), second.get(), photo.get()}) {
        file->Commit([&](const platform::Result<>& r) {
            QMutexLocker locked(&lock);
            done << QString::number(r.ok()) +
                        (steps.contains("sync folder BUFFER") ? "" : " early");
        });
    }
    std::optional<QStringList> moved;
    d.fs.MoveFiles({{"c:\\f\\BUFFER\\p.jpg", "c:\\f\\p.jpg"}},
                   [&](const QStringList& failures) { moved = failures; });
    bool after = false;
    d.fs.AfterCommits([&] { after = true; });
    // The window's loop runs while the disk works: a timer of 10 ms keeps its pace.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    const qint64 started = QDateTime::currentMSecsSinceEpoch();
    ASSERT_TRUE(PumpUntil([&] { return after; }, 20000));
    const qint64 took = QDateTime::currentMSecsSinceEpoch() - started;
    EXPECT_GE(ticks, took / 10 / 3);
    EXPECT_EQ(done, QStringList({"1", "1", "1"}));
    EXPECT_EQ(moved, QStringList());
    EXPECT_FALSE(onWindowThread);
    EXPECT_EQ(steps, QStringList({"sync .a.part", "rename a", "sync .a.part", "rename a",
                                  "sync .p.jpg.part", "rename p.jpg", "sync folder f",
                                  "sync folder BUFFER",  // the three renames at once
                                  "rename p.jpg", "sync folder BUFFER", "sync folder f"}));
    EXPECT_EQ(SizeOf(d.fs, "c:\\f\\a"), 7);
    EXPECT_EQ(d.fs.ListHiddenFiles("c:\\f"), QStringList());
    EXPECT_TRUE(d.fs.FileExists("c:\\f\\p.jpg"));
}
