#include "platform/ruffle/movie_reach.h"
#include "platform/qt/drive_file_system.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using Verdict = platform::MovieReach::Verdict;

TEST(MovieReach, FilesOfTheContentAndProgramFoldersAndTheNetworkOnly) {
    QTemporaryDir temp;
    const QString drive = temp.path() + "/drive_c";
    const QString program = temp.path() + "/program";
    for (const QString& folder : {drive + "/fileftp/Fotos", drive + "/other", program}) {
        QDir().mkpath(folder);
    }
    for (const QString& file :
         {drive + "/fileftp/Fotos/Item.swf", drive + "/fileftp/flash.txt",
          drive + "/other/secret.txt", program + "/download.swf", temp.path() + "/outside.txt"}) {
        QFile(file).open(QIODevice::WriteOnly);
    }
    QFile::link(temp.path() + "/outside.txt", drive + "/fileftp/out.txt");
    QFile::link(drive + "/fileftp/flash.txt", drive + "/fileftp/alias.txt");
    platform::DriveFileSystem files(drive);
    const platform::MovieReach reach(
        {{program}, {"c:\\fileftp"}, [&](const QString& path) { return files.HostPath(path); }});
    const auto file = [](const QString& path) { return QUrl::fromLocalFile(path).toString(); };
    const struct {
        QString url;
        Verdict verdict;
        QString to;
    } cases[] = {
        {"http://news.example/ticker.txt", Verdict::kAllow, {}},
        {"https://station.example/report?x=1", Verdict::kAllow, {}},
        {"data:text/plain,x", Verdict::kAllow, {}},
        {"ftp://station.example/x", Verdict::kBlock, {}},
        {"ws://station.example/x", Verdict::kBlock, {}},
        {file(drive + "/fileftp/flash.txt"), Verdict::kAllow, {}},
        {file(drive + "/fileftp/FLASH.TXT"), Verdict::kRedirect, drive + "/fileftp/flash.txt"},
        {file(drive + "/FILEFTP/fotos/item.SWF"), Verdict::kRedirect,
         drive + "/fileftp/Fotos/Item.swf"},
        {file(drive + "/fileftp/alias.txt"), Verdict::kRedirect, drive + "/fileftp/flash.txt"},
        {file(drive + "/fileftp/missing.txt"), Verdict::kBlock, {}},
        {file(drive + "/fileftp/out.txt"), Verdict::kBlock, {}},
        {file(drive + "/other/secret.txt"), Verdict::kBlock, {}},
        {"file://" + drive + "/fileftp/../other/secret.txt", Verdict::kBlock, {}},
        {file(program + "/download.swf"), Verdict::kAllow, {}},
        {file(temp.path() + "/outside.txt"), Verdict::kBlock, {}},
        {"file:///etc/passwd", Verdict::kBlock, {}},
        {"file://server/share/x.swf", Verdict::kBlock, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        const auto decision = reach.Decide(QUrl(c.url));
        EXPECT_EQ(decision.verdict, c.verdict);
        if (c.verdict == Verdict::kRedirect) {
            EXPECT_EQ(decision.to, QUrl::fromLocalFile(c.to));
        }
    }
}
