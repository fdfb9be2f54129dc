// Files that are not what their names say, on each road into the content folder: the
// update cycle from a loopback site, the push, the import. The good file stays each time,
// and the reason is told.
#include "platform/vlc/vlc_media_probe.h"
#include "support/content_site.h"
#include "support/test_rig.h"
#include "swf/swf.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

QByteArray Movie(QColor background, bool compressed = true) {
    swf::Writer w(8, QSize(320, 240), 12);
    w.SetBackground(background);
    w.AddRectangle(1, QRect(10, 10, 100, 100), Qt::yellow, 1);
    w.ShowFrame();
    w.ShowFrame();
    return w.Finish(compressed);
}

QByteArray Jpeg(QColor colour) {
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

const QByteArray kPage = "<!DOCTYPE html><html><body>Onderhoud</body></html>";

class ContentRoads : public ::testing::Test {
  protected:
    ContentRoads() {
        options.realInet = true;
        options.checkContent = true;
        options.endpoints = site.Endpoints();
        options.customize = [](platform::Platform& p) {
            p.mediaProbe = std::make_unique<platform::VlcMediaProbe>();
        };
        rig = std::make_unique<TestRig>(options);
    }
    void SetUp() override {
        ASSERT_NE(site.Port(), 0) << "the content site did not start";
        rig->Load();
        site.File("test/flash.txt", "tekst=1");
        site.File("test/dravonelle.swf", good);
        site.File("freedata/meerdaagsebanner.jpg", Jpeg(Qt::blue));
        site.File("test/fotos/a.jpg", Jpeg(Qt::green));
        site.Listing("a.jpg;s1;700");
        rig->form->Form_Activate();  // the start-up cycle
        rig->WaitForDisk();
        ASSERT_EQ(rig->ReadDriveFile("c:\\fileftp\\dravonelle.swf"), good);
    }
    status_report::Snapshot Status() { return rig->form->status.Snapshot(); }
    quint64 Refusals(content::Refusal refusal) {
        return Status().refusals[static_cast<size_t>(refusal)];
    }
    QString Local(const QString& name, const QByteArray& bytes) {
        const QString path = rig->temp.path() + "/" + name;
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        return path;
    }

    ContentSite site;
    TestRig::Options options;
    std::unique_ptr<TestRig> rig;
    const QByteArray good = Movie(Qt::darkBlue);
};

TEST_F(ContentRoads, FetchedFilesThatAreNotWhatTheirNamesSayLeaveTheGoodOnes) {
    const QByteArray cut = Movie(Qt::red);
    const QByteArray goodPhoto = rig->ReadDriveFile("c:\\fileftp\\fotos\\a.jpg");
    struct Case {
        const char* what;
        QByteArray movie;
        content::Refusal refusal;
        const char* reason;
        int sameReason;  // refusals of this cycle with that reason
    } cases[] = {
        {"a maintenance page", kPage, content::Refusal::kHtml,
         "dravonelle.swf: an HTML page, not a Flash movie", 2},
        {"a movie cut at half", cut.left(cut.size() / 2), content::Refusal::kCut,
         "dravonelle.swf: a Flash movie that is not whole", 2},
        {"an empty file", "", content::Refusal::kEmpty,
         "dravonelle.swf: an empty file, not a Flash movie", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        site.File("test/dravonelle.swf", c.movie);
        site.File("freedata/meerdaagsebanner.jpg", kPage);
        site.File("test/fotos/a.jpg", Jpeg(Qt::red).left(300));
        site.Listing("a.jpg;s2;700");
        const quint64 before = Refusals(c.refusal);
        rig->form->UpdateContent();
        rig->WaitForDisk();
        EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\dravonelle.swf"), good);
        EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\weerbericht.jpg"), Jpeg(Qt::blue));
        EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\fotos\\a.jpg"), goodPhoto);
        EXPECT_FALSE(rig->files->FileExists("c:\\fileftp\\Buffer\\a.jpg"));
        const auto status = Status();
        QStringList refused;
        for (const auto& [file, reason] : status.lastCycle.refused) {
            refused << file + ": " + reason;
        }
        ASSERT_EQ(refused.size(), 3) << refused.join(" | ").toStdString();
        EXPECT_TRUE(refused[0].startsWith(c.reason)) << refused[0].toStdString();
        EXPECT_TRUE(refused[1].startsWith("a.jpg: a picture that is not whole"));
        EXPECT_EQ(refused[2], "weerbericht.jpg: an HTML page, not a picture");
        EXPECT_EQ(status.lastCycle.failed, 3);
        EXPECT_EQ(*status.lastCycle.result, status_report::CycleResult::kFilesFailed);
        EXPECT_EQ(Refusals(c.refusal), before + c.sameReason);
        EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\file.txt"), "");  // the photo is asked again
        EXPECT_TRUE(status_report::Metrics(status).contains(
            QByteArray("dravonelle_content_refusals_total{reason=\"") +
            content::kRefusals[static_cast<size_t>(c.refusal)].second + "\"} "));
    }
    // The site mended: everything comes in.
    site.File("test/dravonelle.swf", cut);
    site.File("test/fotos/a.jpg", Jpeg(Qt::red));
    site.File("freedata/meerdaagsebanner.jpg", Jpeg(Qt::white));
    rig->form->UpdateContent();
    rig->form->UpdateContent();  // moves the photo out of the buffer
    rig->WaitForDisk();
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\dravonelle.swf"), cut);
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\fotos\\a.jpg"), Jpeg(Qt::red));
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\weerbericht.jpg"), Jpeg(Qt::white));
    EXPECT_TRUE(Status().lastCycle.refused.isEmpty());
}

// The push answers its peer with the refusal (dravonelle-push ends with status 7 and the
// reason) and the good file stays; a good file is answered once it is in place.
TEST_F(ContentRoads, PushedFilesAreCheckedAndTheRefusalIsAnswered) {
    const QString html = Local("page.swf", kPage);
    QByteArray noise(100000, '\0');
    for (qsizetype i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<char>(i * 131 % 241);
    }
    const QString film = Local("noise.mpg", noise);
    const QString newMovie = Local("new.swf", Movie(Qt::darkGreen));
    rig->WriteDriveFile("c:\\fileftp\\clip.mpg", "old film");
    struct Case {
        QString item;
        int exit;
        const char* told;  // in the client's output
    } cases[] = {
        {html + "=dravonelle.swf", 7, "dravonelle.swf: an HTML page, not a Flash movie"},
        {film + "=clip.mpg", 7, "clip.mpg: no film or sound found in it"},
        {newMovie + "=dravonelle.swf", 0, "sent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item.toStdString());
        QProcess client;
        client.start(DRAVONELLE_PUSH_CLIENT, {"--port", QString::number(rig->sockets->LocalPort(0)),
                                              "--timeout", "20", "127.0.0.1", c.item});
        ASSERT_TRUE(PumpUntil([&] { return client.state() == QProcess::NotRunning; }, 60000));
        const QString output = client.readAllStandardOutput() + client.readAllStandardError();
        EXPECT_EQ(client.exitCode(), c.exit) << output.toStdString();
        EXPECT_TRUE(output.contains(c.told)) << output.toStdString();
    }
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\clip.mpg"), "old film");
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\dravonelle.swf"), Movie(Qt::darkGreen));
    EXPECT_EQ(Refusals(content::Refusal::kHtml), 1u);
    EXPECT_EQ(Refusals(content::Refusal::kNoStream), 1u);
}

// The operator's import: a chosen file that is not what its name says stays out, with the
// reason on the status line; the others come in.
TEST_F(ContentRoads, ImportedFilesAreChecked) {
    rig->WriteDriveFile("c:\\fileftp\\news.swf", good);
    const QString folder = rig->temp.path() + "/stick";
    QDir().mkpath(folder);
    Local("stick/News.swf", kPage);
    Local("stick/Photo.jpg", Jpeg(Qt::cyan));
    rig->dialog->nextName = folder + QChar(0) + "News.swf" + QChar(0) + "Photo.jpg";
    rig->dialog->nextTitle = "";
    rig->form->FileCopyButton_Click();
    ASSERT_TRUE(PumpUntil([&] { return !rig->form->Importing(); }, 20000));
    rig->WaitForDisk();
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\news.swf"), good);
    EXPECT_EQ(rig->ReadDriveFile("c:\\fileftp\\photo.jpg"), Jpeg(Qt::cyan));
    EXPECT_EQ(rig->form->lblInfo->text(),
              "Copy failed: News.swf (an HTML page, not a Flash movie)");
    EXPECT_EQ(Refusals(content::Refusal::kHtml), 1u);
}

}  // namespace
