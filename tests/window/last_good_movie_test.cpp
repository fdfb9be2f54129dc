// The main movie that cannot be played never leaves the channel black: the last good one
// stands in, and a display with nothing to play keeps its connecting screen and asks its
// site again until a main movie arrives.
#include "platform/event_loop.h"
#include "support/content_site.h"
#include "support/test_rig.h"
#include "swf/swf.h"

#include <QCryptographicHash>
#include <QFile>

#include <gtest/gtest.h>

namespace {

const QString kMain = "c:\\fileftp\\dravonelle.swf";

QByteArray Movie(QColor background, bool compressed) {
    swf::Writer w(8, QSize(320, 240), 12);
    w.SetBackground(background);
    for (int i = 0; i < 40; ++i) {
        w.AddRectangle(i + 1, QRect(i * 5, 10, 40, 40), Qt::yellow, i + 1);
        w.ShowFrame();
    }
    return w.Finish(compressed);
}

QString KeptPath(const QByteArray& movie) {
    return "c:\\dravonelle\\lastgood\\" +
           QCryptographicHash::hash(movie, QCryptographicHash::Sha256).toHex() + ".swf";
}

void Fault(const ContentSite& site, const QString& path, const QString& action) {
    QFile file(site.State() + "/faults");
    file.open(QIODevice::Append);
    file.write((path + " " + action + "\n").toUtf8());
}

class LastGood : public ::testing::Test {
  protected:
    // A window on `drive` (empty: a new one), started as at power-on.
    std::unique_ptr<TestRig> Start(const QString& drive = QString()) {
        TestRig::Options options;
        options.realInet = true;
        options.checkContent = true;
        options.endpoints = site.Endpoints();
        options.driveFolder = drive;
        auto rig = std::make_unique<TestRig>(options);
        rig->Load();
        rig->anyInet->SetRequestTimeout(2);
        rig->form->lastGood.PlayedWellTimer.SetInterval(50);
        rig->form->lastGood.firstRetryMs = 300;
        rig->form->Form_Activate();
        return rig;
    }
    // The main player shows its movie's first frame, and then plays on a while.
    static void PlaysWell(TestRig& rig, const QByteArray& movie) {
        rig.flash1->MovieStarted();
        ASSERT_TRUE(PumpUntil([&] { return rig.form->lastGood.Copy() == KeptPath(movie); }))
            << rig.form->lastGood.Copy().toStdString();
    }
    static QString Warnings(TestRig& rig) {
        return rig.form->status.Snapshot().mainMovieWarnings.join(" | ");
    }

    ContentSite site;
    const QByteArray good = Movie(Qt::darkBlue, true);
};

// A main movie damaged on the disk while the program was down, in each way the check or the
// engine tells: the kept one plays at the next start, from its own folder with its files in
// the content folder, and the status names the file and the reason.
TEST_F(LastGood, StandsInAfterARestartForAMainMovieThatCannotBePlayed) {
    const QByteArray fresh = Movie(Qt::darkRed, false);
    struct Case {
        const char* what;
        QByteArray onDisk;
        bool engineFails;
        const char* reason;
    } cases[] = {
        {"cut, seen from its start", fresh.left(fresh.size() / 2), false,
         "a Flash movie that is not whole"},
        {"compressed and cut, seen when read whole", good.left(good.size() - 40), false,
         "a Flash movie that is not whole"},
        {"a page", "<html><body>x</body></html>", false, "an HTML page, not a Flash movie"},
        {"whole, but the engine cannot play it", fresh, true, "no frame shown within 10000 ms"},
    };
    site.File("test/dravonelle.swf", good);
    site.Listing("");
    auto first = Start();
    ASSERT_EQ(first->flash1->movie, kMain);
    PlaysWell(*first, good);
    EXPECT_EQ(first->ReadDriveFile(KeptPath(good)), good);
    const QString drive = first->Host("c:\\");
    first->form.reset();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fault(site, "/test/dravonelle.swf", "404");  // the site has no better one
        QFile onDisk(drive + "/fileftp/dravonelle.swf");
        ASSERT_TRUE(onDisk.open(QIODevice::WriteOnly | QIODevice::Truncate));
        onDisk.write(c.onDisk);
        onDisk.close();
        auto rig = Start(drive);
        if (c.engineFails) {
            EXPECT_EQ(rig->flash1->movie, kMain);
            rig->flash1->MovieFailed(c.reason);
        }
        ASSERT_TRUE(PumpUntil([&] { return rig->flash1->movie == KeptPath(good); }))
            << rig->flash1->calls.join(" | ").toStdString();
        EXPECT_TRUE(rig->flash1->calls.contains("Movie=" + KeptPath(good) + " from c:\\fileftp"));
        EXPECT_TRUE(Warnings(*rig).contains("main movie dravonelle.swf cannot be played (" +
                                            QString(c.reason)))
            << Warnings(*rig).toStdString();
        EXPECT_EQ(status_report::Judge(rig->form->status.Snapshot()).state, "DEGRADED");
        EXPECT_TRUE(rig->form->lblInfo->text().startsWith("dravonelle.swf: "));
        // The copy plays well: it stays the one kept, and nothing else is asked.
        rig->flash1->MovieStarted();
        platform::WaitUntil([] { return false; }, [] { return false; }, 200);
        EXPECT_EQ(rig->form->lastGood.Copy(), KeptPath(good));
        QFile(site.State() + "/faults").remove();
        rig->form.reset();
    }

    // A good main movie that comes in later plays and becomes the one kept.
    Fault(site, "/test/dravonelle.swf", "404");
    auto rig = Start(drive);
    rig->flash1->MovieFailed("the engine stopped the movie");
    ASSERT_TRUE(PumpUntil([&] { return rig->flash1->movie == KeptPath(good); }));
    QFile(site.State() + "/faults").remove();
    const QByteArray next = Movie(Qt::darkGreen, true);
    site.File("test/dravonelle.swf", next);
    rig->form->UpdateContent();
    ASSERT_TRUE(PumpUntil([&] { return rig->flash1->movie == kMain; }));
    PlaysWell(*rig, next);
    EXPECT_EQ(Warnings(*rig), "");
    rig->WaitForDisk();
    EXPECT_FALSE(rig->files->FileExists(KeptPath(good)));  // one copy is kept
    EXPECT_EQ(rig->ReadDriveFile(KeptPath(next)), next);
}

// A kept copy that was damaged on the disk is not played; with nothing else, the
// connecting screen stays.
TEST_F(LastGood, DamagedCopyIsNotPlayed) {
    site.File("test/dravonelle.swf", good);
    site.Listing("");
    auto first = Start();
    PlaysWell(*first, good);
    const QString drive = first->Host("c:\\");
    first->form.reset();
    QFile copy(drive + "/dravonelle/lastgood/" + KeptPath(good).mid(23));
    ASSERT_TRUE(copy.open(QIODevice::ReadWrite));
    copy.seek(100);
    copy.write("xxxx");
    copy.close();
    Fault(site, "/test/dravonelle.swf", "404");
    QFile(drive + "/fileftp/dravonelle.swf").resize(0);
    auto rig = Start(drive);
    ASSERT_TRUE(PumpUntil([&] { return rig->form->lastGood.Copy().isEmpty(); }));
    EXPECT_EQ(rig->flash1->movie, rig->temp.path() + "/program\\download.swf");
    EXPECT_EQ(status_report::Judge(rig->form->status.Snapshot()).state, "FAULT");
}

// A fresh display whose site is away: the connecting screen stays up (loaded once, never
// replaced by a movie that cannot play), the status is FAULT at once, and update cycles run
// further and further apart until the site comes up; then its main movie plays.
TEST_F(LastGood, FreshDisplayPlaysItsMainMovieOnceItsSiteComesUp) {
    for (const char* path : {"/test/flash.txt", "/test/dravonelle.swf", "/testdir.php",
                             "/freedata/meerdaagsebanner.jpg"}) {
        Fault(site, path, "reset");
    }
    site.File("test/dravonelle.swf", good);
    site.Listing("");
    auto rig = Start();
    const QString connecting = "Movie=" + rig->temp.path() + "/program\\download.swf";
    EXPECT_EQ(rig->flash1->calls.count(connecting), 1);
    const auto faults = rig->form->status.Snapshot().mainMovieFaults;
    ASSERT_EQ(faults.size(), 1);
    EXPECT_TRUE(faults[0].startsWith("no main movie to play (dravonelle.swf: no such file)"))
        << faults[0].toStdString();
    EXPECT_EQ(status_report::Judge(rig->form->status.Snapshot()).state, "FAULT");
    EXPECT_TRUE(rig->form->lastGood.RetryTimer.Enabled());
    // Two more cycles while the site is away; each wait twice the one before.
    ASSERT_TRUE(PumpUntil([&] { return rig->form->lastGood.RetryTimer.Interval() >= 1200; }));
    EXPECT_EQ(rig->flash1->calls.count(connecting), 1);
    EXPECT_FALSE(rig->flash1->calls.contains("Movie=" + kMain));
    QFile(site.State() + "/faults").remove();
    ASSERT_TRUE(PumpUntil([&] { return rig->flash1->movie == kMain; }, 10000));
    rig->flash1->MovieStarted();
    EXPECT_FALSE(rig->form->lastGood.RetryTimer.Enabled());
    EXPECT_TRUE(rig->form->status.Snapshot().mainMovieFaults.isEmpty());
    PlaysWell(*rig, good);
}

}  // namespace
