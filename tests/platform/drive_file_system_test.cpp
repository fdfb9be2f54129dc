#include "platform/qt/drive_file_system.h"
#include "support/test_rig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The file opened for writing, or nullptr (and a failed expectation) with the reason.
std::unique_ptr<platform::FileWriter> Open(platform::FileSystem& fs, const QString& path) {
    auto created = fs.CreateFile(path);
    EXPECT_TRUE(created) << created.reason().toStdString();
    return created ? std::move(*created) : nullptr;
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
        ASSERT_TRUE(writer->Close());
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
    EXPECT_EQ(d.fs.FileSize("c:\\fileftp\\Buffer\\photo.jpg"), 2);
}

TEST(DriveFileSystem, LettersBeyondAsciiMatchWithoutRegardToCase) {
    Drive d;
    d.fs.CreateFolder("c:\\f");
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
    EXPECT_EQ(d.fs.FileSize("c:\\f\\news.swf"), 2);
    EXPECT_EQ(d.fs.FileSize("c:\\f\\News.swf"), 1);
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
    EXPECT_FALSE(d.fs.CreateFile(climb));
    EXPECT_FALSE(d.fs.HostPath("d:\\x").has_value());
    EXPECT_FALSE(d.fs.HostPath("fileftp\\x").has_value());
    EXPECT_FALSE(d.fs.IsDrivePath("/etc/passwd"));
    EXPECT_TRUE(QFile::exists(victim));
    // A ".." that stays inside is fine.
    EXPECT_EQ(*d.fs.HostPath("c:\\a\\..\\b"), d.Root() + "/b");
}

TEST(DriveFileSystem, FirstItemIsReadAsCommaDelimitedText) {
    Drive d;
    d.fs.CreateFolder("c:\\t");
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
    d.fs.CreateFolder("c:\\t");
    d.Write("c:\\t\\target", "old content that is longer");
    EXPECT_FALSE(d.Copy("c:\\t\\missing", "c:\\t\\target"));
    EXPECT_EQ(d.fs.FileSize("c:\\t\\target"), 26);
    d.Write("c:\\t\\new", "new");
    EXPECT_TRUE(d.Copy(d.Root() + "\\t\\new", "c:\\t\\TARGET"));
    EXPECT_EQ(d.fs.FileSize("c:\\t\\target"), 3);
    EXPECT_EQ(d.fs.ListPlainFiles("c:\\t"), QStringList({"new", "target"}));
    // A large copy reports its progress in whole percent, up to 100.
    d.Write("c:\\t\\big", QByteArray(5 << 20, 'b'));
    QList<int> shown;
    EXPECT_TRUE(d.Copy(d.Root() + "/t/big", "c:\\t\\copy", &shown));
    EXPECT_EQ(shown, QList<int>({20, 40, 60, 80, 100}));
    EXPECT_EQ(d.fs.FileSize("c:\\t\\copy"), 5 << 20);
    EXPECT_TRUE(d.fs.DeleteFile("c:\\t\\copy") && d.fs.DeleteFile("c:\\t\\big"));
    const auto missing = d.fs.ReplaceFile("c:\\t\\missing", "c:\\t\\target");
    EXPECT_FALSE(missing);
    EXPECT_FALSE(missing.reason().isEmpty());
    EXPECT_EQ(d.fs.FileSize("c:\\t\\target"), 3);
    EXPECT_TRUE(d.fs.ReplaceFile("c:\\t\\new", "c:\\t\\target"));
    EXPECT_EQ(d.fs.ListPlainFiles("c:\\t"), QStringList({"target"}));
}

TEST(DriveFileSystem, HiddenFilesAndFoldersAreNotListed) {
    Drive d;
    d.fs.CreateFolder("c:\\t");
    d.fs.CreateFolder("c:\\t\\sub");
    d.Write("c:\\t\\.part", "x");
    d.Write("c:\\t\\shown", "x");
    EXPECT_EQ(d.fs.ListPlainFiles("c:\\t"), QStringList({"shown"}));
}

// A full disk is named as such when the bytes are written, and Close reports it too.
TEST(DriveFileSystem, FullDiskIsReportedAsDiskFull) {
    // The drive is /dev here, so that its file "full" is the device that is always full
    // (a link to it from another drive would be refused as a link out of that drive).
    platform::DriveFileSystem fs("/dev");
    auto writer = Open(fs, "c:\\full");
    ASSERT_TRUE(writer);
    const auto written = writer->Write(QByteArray(64 * 1024, 'x'));
    EXPECT_EQ(written.reason(), platform::kDiskFull);
    EXPECT_EQ(writer->Close().reason(), platform::kDiskFull);
    EXPECT_EQ(platform::WriteFailure("c:\\x.swf", written.reason(), 5000),
              "disk full: 5000 bytes wanted for c:\\x.swf");
    EXPECT_EQ(platform::WriteFailure("c:\\x.swf", "Permission denied", 5000),
              "cannot write c:\\x.swf: Permission denied");
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
    EXPECT_TRUE(writer->Close());
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(fs.DeleteFile("c:\\ample.bin"));

    free = reserve.keepFreeBytes + 100 * 1024;  // room for one block, not two
    writer = Open(fs, "c:\\tight.bin");
    ASSERT_TRUE(writer);
    EXPECT_TRUE(writer->Write(block));
    EXPECT_EQ(writer->Write(block).reason(), platform::kDiskFull);

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
        EXPECT_FALSE(d.fs.CreateFile(path));
        EXPECT_FALSE(d.fs.DeleteFile(path));
        EXPECT_FALSE(d.Copy(path, "c:\\fileftp\\copy.txt"));
    }
    EXPECT_TRUE(d.fs.ListPlainFiles("c:\\fileftp\\folder").isEmpty());
    EXPECT_TRUE(secret.exists());
    EXPECT_EQ(d.fs.ReadFirstItem("c:\\fileftp\\alias.txt"), "inside");
}
