#include "presentation/presentation_text.h"
#include "support/test_rig.h"

#include <QImage>

#include <QTimer>

#include <gtest/gtest.h>

namespace {

class Presentation : public ::testing::Test {
  protected:
    void SetUp() override {
        rig.Load();
        (void)rig.files->CreateFolder("c:\\fileftp");
        W = rig.form->WindowWidth();
        H = rig.form->WindowHeight();
        rig.WriteDriveFile("c:\\fileftp\\Intro.swf", "FWS");
        rig.WriteDriveFile("c:\\fileftp\\clip.mpg", "video");
        QImage picture(8, 8, QImage::Format_RGB32);
        picture.fill(Qt::red);
        ASSERT_TRUE(picture.save(rig.Host("c:\\fileftp\\markt.jpg"), "JPEG"));
        Clear();
    }
    void Clear() {
        rig.flash1->calls.clear();
        rig.flash1->setVariables.clear();
        rig.flash2->calls.clear();
        rig.media->calls.clear();
    }
    void Command(const QString& command, const QString& args) {
        rig.form->ShockwaveFlash1_FSCommand(command, args);
    }
    // A "foto" command, and the events until its picture has been read.
    void Photo(const QString& args) {
        Command("foto", args);
        PumpUntil([&] { return !rig.form->PhotoBeingRead(); });
    }
    void RadioOn() {
        rig.form->StartRadio();
        Clear();
    }
    TestRig rig;
    double W = 0, H = 0;
};

}  // namespace

// ---- MainMovie -> SecondMovie and back ----

TEST_F(Presentation, FlashWithExistingFileStartsTheSecondMovie) {
    RadioOn();
    Command("flash", "movie:Intro.swf");
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"film=begin"}));
    EXPECT_EQ(rig.flash2->calls,
              QStringList({"Movie=c:\\fileftp\\Intro.swf", "Rewind", "Play", "Visible=1"}));
    EXPECT_FLOAT_EQ(rig.flash2->Width(), W);
    EXPECT_FLOAT_EQ(rig.flash2->Height(), H);
    EXPECT_TRUE(rig.form->flashtimer.Enabled());
    EXPECT_EQ(rig.form->flashtimer.Interval(), 10);
    EXPECT_FALSE(rig.form->RadioPlaying);
    EXPECT_EQ(rig.media->calls, QStringList({"URL="}));
    EXPECT_TRUE(rig.flash1->Visible());  // keeps running behind it
}

TEST_F(Presentation, FlashWithMissingOrShortOrEscapingNameOnlyAnswersKlaar) {
    RadioOn();
    for (const QString& args : {QString("movie:Missing.swf"), QString("movi"), QString(""),
                                QString("movie:..\\..\\etc\\passwd"), QString("movie:c:\\x.swf"),
                                QString("movie:/etc/passwd")}) {
        Command("flash", args);
    }
    EXPECT_EQ(rig.flash1->setVariables, QStringList(6, "film=klaar"));
    EXPECT_TRUE(rig.flash2->calls.isEmpty());
    EXPECT_TRUE(rig.form->RadioPlaying);
    EXPECT_FALSE(rig.form->flashtimer.Enabled());
}

TEST_F(Presentation, PollShowsProgressAndEndsAtTheLastFrame) {
    Command("flash", "movie:Intro.swf");
    Clear();
    rig.flash2->totalFrames = 120;
    rig.flash2->currentFrame = 40;
    rig.form->flashtimer_Timer();
    EXPECT_EQ(rig.form->lblInfo->text(), "40-120");
    EXPECT_TRUE(rig.form->flashtimer.Enabled());
    EXPECT_TRUE(rig.flash2->calls.isEmpty());

    rig.flash2->currentFrame = 119;
    rig.form->flashtimer_Timer();
    EXPECT_EQ(rig.form->lblInfo->text(), "119-120");
    EXPECT_FALSE(rig.form->flashtimer.Enabled());
    EXPECT_EQ(rig.flash2->calls, QStringList({"Stop", "Visible=0"}));
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"film=klaar"}));
    EXPECT_TRUE(rig.form->RadioPlaying);
    EXPECT_EQ(rig.media->calls, QStringList({"URL=http://radio.test/radio.asx", "play"}));
}

TEST_F(Presentation, SingleFrameMovieEndsAtTheFirstPollOfTheRealTimer) {
    rig.flash2->totalFrames = 1;
    rig.flash2->currentFrame = 0;
    Command("flash", "movie:Intro.swf");
    ASSERT_TRUE(PumpUntil([&] { return !rig.form->flashtimer.Enabled(); }, 2000));
    EXPECT_EQ(rig.form->lblInfo->text(), "0-1");
    EXPECT_FALSE(rig.flash2->Visible());
    EXPECT_EQ(rig.flash1->variables["film"], "klaar");
}

// A movie that stops itself short of its last frame ends once its frame has stood still
// for the set time; one whose frame moves plays on past that time.
TEST_F(Presentation, InsertThatStandsStillEndsAfterTheStallTime) {
    rig.form->Platform().insertStallMs = 150;
    rig.flash2->totalFrames = 120;
    rig.flash2->currentFrame = 5;
    QTimer moving;
    QObject::connect(&moving, &QTimer::timeout, [&] { ++rig.flash2->currentFrame; });
    moving.start(20);
    Command("flash", "movie:Intro.swf");
    PumpUntil([] { return false; }, 500);
    EXPECT_TRUE(rig.form->flashtimer.Enabled()) << "a movie that moves plays on";
    moving.stop();
    const int stoppedAt = rig.flash2->currentFrame;
    ASSERT_LT(stoppedAt, 119);
    ASSERT_TRUE(PumpUntil([&] { return !rig.form->flashtimer.Enabled(); }, 2000));
    EXPECT_EQ(rig.flash2->currentFrame, stoppedAt);
    EXPECT_EQ(rig.flash1->variables["film"], "klaar");
    EXPECT_FALSE(rig.flash2->Visible());
    EXPECT_TRUE(rig.form->RadioPlaying);
}

TEST_F(Presentation, FlashDuringSecondMovieLoadsTheNewFileAndPollGoesOn) {
    Command("flash", "movie:Intro.swf");
    rig.WriteDriveFile("c:\\fileftp\\Next.swf", "FWS");
    Clear();
    Command("flash", "movie:Next.swf");
    EXPECT_EQ(rig.flash2->movie, "c:\\fileftp\\Next.swf");
    EXPECT_TRUE(rig.form->flashtimer.Enabled());
}

// ---- MainMovie -> MediaShowing and back ----

TEST_F(Presentation, FilmIsPlacedByItsGroupAsEdgesInPercent) {
    RadioOn();
    Command("film", "film:clip.mpg(10,20,60,80)");
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"film=begin"}));
    EXPECT_FLOAT_EQ(rig.media->Left(), static_cast<float>(0.10 * W));
    EXPECT_FLOAT_EQ(rig.media->Top(), static_cast<float>(0.20 * H));
    EXPECT_FLOAT_EQ(rig.media->Width(), static_cast<float>(0.60 * W - 0.10 * W));
    EXPECT_FLOAT_EQ(rig.media->Height(), static_cast<float>(0.80 * H - 0.20 * H));
    EXPECT_EQ(rig.media->calls,
              QStringList({"URL=", "Visible=1", "stretchToFit=1", "URL=c:\\fileftp\\clip.mpg"}));
    EXPECT_FALSE(rig.form->RadioPlaying);
}

TEST_F(Presentation, FilmWithoutUsableGroupCoversTheWindow) {
    rig.WriteDriveFile("c:\\fileftp\\clip.mpg(1,2", "video");
    const QStringList remainders = {"clip.mpg", "clip.mpg(1,2", "clip.mpg(1,2,3)",
                                    "clip.mpg(a,b,c,d)", "clip.mpg()"};
    for (const QString& remainder : remainders) {
        rig.media->SetGeometry(1, 2, 3, 4);
        Clear();
        Command("film", "film:" + remainder);
        SCOPED_TRACE(remainder.toStdString());
        EXPECT_EQ(rig.media->Left(), 0);
        EXPECT_EQ(rig.media->Top(), 0);
        EXPECT_FLOAT_EQ(rig.media->Width(), static_cast<float>(W));
        EXPECT_FLOAT_EQ(rig.media->Height(), static_cast<float>(H));
        // Without ")" the "(" and what follows it stay part of the name.
        EXPECT_EQ(rig.media->url, remainder == "clip.mpg(1,2" ? "c:\\fileftp\\clip.mpg(1,2"
                                                              : "c:\\fileftp\\clip.mpg");
    }
}

TEST_F(Presentation, FilmWithMissingFileDisablesAndHidesThePlayer) {
    RadioOn();
    Command("film", "film:nothere.mpg(10,20,60,80)");
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"film=begin", "film=klaar"}));
    EXPECT_EQ(rig.media->calls, QStringList({"enabled=0", "Visible=0"}));
    EXPECT_TRUE(rig.form->RadioPlaying);  // the radio is left as it was
    Clear();
    Command("film", "fil");  // shorter than what the command drops
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"film=begin", "film=klaar"}));
}

TEST_F(Presentation, Mp3PlaysTheNameBeforeItsGroupWithoutShowingThePlayer) {
    RadioOn();
    rig.media->SetVisible(false);
    rig.media->calls.clear();
    Command("mp3", "mp3:jingle.mp3(1,2,3,4)");
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"film=begin"}));
    EXPECT_EQ(rig.media->calls, QStringList({"URL=", "URL=c:\\fileftp\\jingle.mp3"}));
    EXPECT_FALSE(rig.media->Visible());
}

TEST_F(Presentation, Mp3WithoutUsableNameAnswersAsAStoppedPlayer) {
    RadioOn();
    Command("mp3", "mp3:..\\secret.mp3");
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"film=begin", "film=klaar"}));
    EXPECT_FALSE(rig.media->url.contains("secret"));
    EXPECT_TRUE(rig.form->RadioaanTimer.Enabled());  // the radio comes back
}

TEST_F(Presentation, StoppedPlayerAnswersKlaarAndRadioReturnsAfterTwoSeconds) {
    RadioOn();
    Command("film", "film:clip.mpg");
    Clear();
    rig.media->PlayStateChange(platform::kPlaying);
    EXPECT_TRUE(rig.flash1->setVariables.isEmpty());
    rig.media->PlayStateChange(platform::kStopped);
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"film=klaar"}));
    EXPECT_EQ(rig.media->calls, QStringList({"Visible=0", "URL="}));
    EXPECT_TRUE(rig.form->RadioaanTimer.Enabled());
    EXPECT_FALSE(rig.form->RadioPlaying);
    ASSERT_TRUE(PumpUntil([&] { return rig.form->RadioPlaying; }, 3000));
    EXPECT_FALSE(rig.form->RadioaanTimer.Enabled());
    EXPECT_EQ(rig.media->url, "http://radio.test/radio.asx");
}

TEST_F(Presentation, StopRadioWithinTwoSecondsOfAnEndKeepsTheRadioOff) {
    Command("film", "film:clip.mpg");
    rig.media->PlayStateChange(platform::kStopped);
    rig.flash2->totalFrames = 100;        // still running when the two seconds are over
    Command("flash", "movie:Intro.swf");  // calls StopRadio
    EXPECT_FALSE(rig.form->RadioaanTimer.Enabled());
    PumpUntil([] { return false; }, 2300);
    EXPECT_FALSE(rig.form->RadioPlaying);
}

TEST_F(Presentation, RadioStartsOnceAndStopRadioWithFlagOffKeepsTheFilm) {
    rig.form->StartRadio();
    rig.form->StartRadio();
    EXPECT_EQ(rig.media->calls, QStringList({"URL=http://radio.test/radio.asx", "play"}));
    Command("film", "film:clip.mpg");
    Clear();
    rig.form->RadioaanTimer.SetEnabled(true);
    rig.form->StopRadio();
    EXPECT_TRUE(rig.media->calls.isEmpty());
    EXPECT_EQ(rig.media->url, "c:\\fileftp\\clip.mpg");
    EXPECT_FALSE(rig.form->RadioaanTimer.Enabled());
}

TEST_F(Presentation, ADroppedRadioStreamIsTriedAgain) {
    RadioOn();
    rig.media->PlayStateChange(platform::kStopped);
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"film=klaar"}));
    EXPECT_FALSE(rig.media->Visible());
    EXPECT_TRUE(rig.form->RadioaanTimer.Enabled());
    ASSERT_TRUE(PumpUntil([&] { return rig.form->RadioPlaying; }, 3000));
    EXPECT_EQ(rig.media->url, "http://radio.test/radio.asx");
}

// ---- MainMovie -> PhotoShowing and back ----

TEST_F(Presentation, PhotoIsShownFullWindowForItsDuration) {
    Photo("foto:markt.jpg,2.5");
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"foto=begin"}));
    EXPECT_TRUE(rig.form->Timer1.Enabled());
    EXPECT_EQ(rig.form->Timer1.Interval(), 2500);
    EXPECT_FALSE(rig.form->Image1.Picture().isNull());
    EXPECT_TRUE(rig.form->Image1.Visible());
    EXPECT_FLOAT_EQ(rig.form->Image1.Width(), static_cast<float>(W));
    EXPECT_FALSE(rig.flash1->Visible());
    EXPECT_FALSE(rig.media->Visible());
    EXPECT_EQ(rig.media->Width(), 1);
    EXPECT_EQ(rig.media->Height(), 1);

    rig.form->Timer1_Timer();
    EXPECT_FALSE(rig.form->Timer1.Enabled());
    EXPECT_FALSE(rig.form->Image1.Visible());
    EXPECT_TRUE(rig.flash1->Visible());
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"foto=begin", "foto=klaar"}));
    EXPECT_EQ(rig.media->Width(), 1);  // stays hidden at 1 x 1 until the next film
}

// A film that the movie starts while the photo is being put up takes the screen: the
// photo is not shown over it, and the film keeps its place and picture. The photo still
// answers "klaar" when its time is up.
TEST_F(Presentation, FilmArrivingWhileAPhotoIsPutUpKeepsTheScreen) {
    QTimer::singleShot(0, rig.form.get(), [&] { Command("film", "film:clip.mpg(10,20,60,80)"); });
    Photo("foto:markt.jpg,2.5");
    EXPECT_EQ(rig.media->url, "c:\\fileftp\\clip.mpg");
    EXPECT_TRUE(rig.media->Visible());
    EXPECT_FLOAT_EQ(rig.media->Width(), static_cast<float>(0.5 * W));
    EXPECT_TRUE(rig.flash1->Visible());  // the movie, not the photo, around the film
    EXPECT_TRUE(rig.form->Timer1.Enabled());
    rig.form->Timer1_Timer();
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"foto=begin", "film=begin", "foto=klaar"}));
    EXPECT_TRUE(rig.media->Visible());
}

// The picture is read off the window's thread: a photo whose time is up, or that is
// skipped, before its picture has been read never goes up afterwards.
TEST_F(Presentation, PhotoEndedBeforeItsPictureIsReadStaysAway) {
    for (const bool skip : {false, true}) {
        SCOPED_TRACE(skip ? "skipped" : "time up");
        Clear();
        Command("foto", "foto:markt.jpg,30");
        EXPECT_TRUE(rig.form->PhotoBeingRead());
        EXPECT_FALSE(rig.form->QuietMoment());
        if (skip) {
            rig.form->FotoOverslaan_Click();
        } else {
            rig.form->Timer1_Timer();
        }
        PumpUntil([] { return false; }, 300);
        EXPECT_FALSE(rig.form->PhotoBeingRead());
        EXPECT_FALSE(rig.form->Image1.Visible());
        EXPECT_TRUE(rig.flash1->Visible());
        EXPECT_EQ(rig.flash1->setVariables.first(), "foto=begin");
        EXPECT_EQ(rig.flash1->setVariables.count("foto=klaar"), 1);
    }
}

TEST_F(Presentation, PhotoArgumentRules) {
    struct Case {
        QString args;
        bool shown;
        bool timer;
        int interval;
    };
    rig.WriteDriveFile("c:\\fileftp\\a,b.jpg", rig.ReadDriveFile("c:\\fileftp\\markt.jpg"));
    const QList<Case> cases = {
        {"foto:markt.jpg,0", true, true, 0},
        {"foto:markt.jpg,soon", true, true, 0},
        {"foto:markt.jpg, 3", true, true, 3000},
        {"foto:markt.jpg,0.0005", true, true, 0},    // 0.5 ms: halves to even
        {"foto:markt.jpg,0.0015", true, true, 2},    // 1.5 ms: halves to even
        {"foto:a,b.jpg,4", true, true, 4000},        // the last comma separates
        {"foto:markt.jpg,100", true, true, 100000},  // longer than the old 65,535 ms
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.toStdString());
        rig.form->Timer1.SetEnabled(false);
        rig.form->Timer1.SetInterval(0);
        Clear();
        Command("foto", c.args);
        EXPECT_EQ(rig.form->Image1.Visible(), c.shown);
        EXPECT_EQ(rig.form->Timer1.Enabled(), c.timer);
        EXPECT_EQ(rig.form->Timer1.Interval(), c.interval);
        EXPECT_EQ(rig.flash1->setVariables, QStringList({"foto=begin"}));
    }
}

TEST_F(Presentation, PhotoWithoutCommaUsesTheWholeArgumentAndArmsNoTimer) {
    rig.WriteDriveFile("c:\\fileftp\\foto:markt.jpg", rig.ReadDriveFile("c:\\fileftp\\markt.jpg"));
    Photo("foto:markt.jpg");
    // The whole argument names a file with a drive-like colon: refused, recovered.
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"foto=begin", "foto=klaar"}));
    EXPECT_FALSE(rig.form->Timer1.Enabled());
    Clear();
    rig.WriteDriveFile("c:\\fileftp\\fotomarkt.jpg", rig.ReadDriveFile("c:\\fileftp\\markt.jpg"));
    Photo("fotomarkt.jpg");
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"foto=begin"}));
    EXPECT_TRUE(rig.form->Image1.Visible());
    EXPECT_FALSE(rig.form->Timer1.Enabled());
}

TEST_F(Presentation, PhotoRecoveryForMissingFilesPicturesAndDurations) {
    rig.WriteDriveFile("c:\\fileftp\\broken.jpg", "not a picture");
    for (const QString& args :
         {QString("foto:missing.jpg,5"), QString("foto:broken.jpg,5"), QString("foto:markt.jpg,-1"),
          QString("foto:markt.jpg,1e400"), QString("foto:markt.jpg,99999999"),
          QString("foto:..\\..\\x.jpg,5")}) {
        SCOPED_TRACE(args.toStdString());
        Clear();
        rig.form->Timer1.SetEnabled(true);
        rig.flash1->SetVisible(false);
        rig.media->SetGeometry(720, 3240, 2400, 2475);
        Photo(args);
        EXPECT_EQ(rig.flash1->setVariables, QStringList({"foto=begin", "foto=klaar"}));
        EXPECT_FALSE(rig.form->Timer1.Enabled());
        EXPECT_FALSE(rig.form->Image1.Visible());
        EXPECT_TRUE(rig.flash1->Visible());
        EXPECT_EQ(rig.media->Width(), 2400);  // left as the failed command left it
    }
}

TEST_F(Presentation, CommandArrivingDuringThePhotoPumpRunsCompletelyThere) {
    rig.flash2->totalFrames = 100;  // the insert still plays when the photo is up
    bool nestedDone = false;
    QTimer::singleShot(0, rig.form.get(), [&] {
        Command("flash", "movie:Intro.swf");
        nestedDone = true;
    });
    Photo("foto:markt.jpg,1");
    EXPECT_TRUE(nestedDone);
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"foto=begin", "film=begin"}));
    EXPECT_TRUE(rig.form->Image1.Visible());
    EXPECT_TRUE(rig.flash2->Visible());
}

// ---- Skip ----

TEST_F(Presentation, SkipEndsEverythingAndAlwaysAnswersBoth) {
    Command("flash", "movie:Intro.swf");
    Photo("foto:markt.jpg,30");
    Clear();
    rig.form->FotoOverslaan->click();
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"foto=klaar", "film=klaar"}));
    EXPECT_FALSE(rig.form->Timer1.Enabled());
    EXPECT_FALSE(rig.form->flashtimer.Enabled());
    EXPECT_EQ(rig.flash2->calls, QStringList({"Stop", "Visible=0"}));
    EXPECT_FALSE(rig.form->Image1.Visible());
    EXPECT_TRUE(rig.flash1->Visible());
    EXPECT_TRUE(rig.form->RadioPlaying);

    Clear();  // with nothing inserted
    rig.form->FotoOverslaan_Click();
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"foto=klaar", "film=klaar"}));
}

TEST_F(Presentation, SkipDuringAFilmStartsTheRadioInItsPlace) {
    Command("film", "film:clip.mpg");
    Clear();
    rig.form->FotoOverslaan_Click();
    EXPECT_EQ(rig.media->calls, QStringList({"URL=http://radio.test/radio.asx", "play"}));
}

// ---- Other commands ----

TEST_F(Presentation, FlashmovieReplacesTheMainMovieOrFallsBackToTheMainMovie) {
    Command("flashmovie", "Intro.swf");
    EXPECT_EQ(rig.flash1->calls, QStringList({"Movie=c:\\fileftp\\Intro.swf", "Rewind", "Play"}));
    Clear();
    Command("FlashMovie", "gone.swf");
    EXPECT_EQ(rig.flash1->calls,
              QStringList({"Movie=c:\\fileftp\\dravonelle.swf", "Rewind", "Play"}));
}

TEST_F(Presentation, CommandWordsAreLowerCasedButNotTrimmed) {
    Command("RaDiO", "whatever");
    EXPECT_TRUE(rig.form->RadioPlaying);
    rig.form->StopRadio();
    Command(" radio", "");
    Command("radio ", "");
    Command("radios", "");
    EXPECT_FALSE(rig.form->RadioPlaying);
}

TEST_F(Presentation, UpdateRunsOnlyOnExactlyWaarWithTheBoxUnticked) {
    for (const QString& args : {QString("Waar"), QString("waar "), QString("WAAR"), QString("")}) {
        Command("update", args);
    }
    EXPECT_TRUE(rig.inet->requests.isEmpty());
    rig.form->ChkNoUpdate->setChecked(true);
    Command("update", "waar");
    EXPECT_TRUE(rig.inet->requests.isEmpty());
    rig.form->ChkNoUpdate->setChecked(false);
    Command("Update", "waar");
    EXPECT_FALSE(rig.inet->requests.isEmpty());
    EXPECT_FALSE(rig.form->Updating);
}

// ---- The text rules ----

TEST(PresentationText, TailScanAndLeadingNumber) {
    EXPECT_EQ(presentation::ScanTail("clip.mpg(10,20,60,80)").fileName, "clip.mpg");
    EXPECT_EQ(presentation::ScanTail("clip.mpg").fileName, "clip.mpg");
    EXPECT_EQ(presentation::ScanTail("clip.mpg(1,2").fileName, "clip.mpg(1,2");
    EXPECT_EQ(presentation::ScanTail("a)b(c").fileName, "a)b(c");
    EXPECT_EQ(presentation::ScanTail("").fileName, "");
    EXPECT_DOUBLE_EQ(presentation::LeadingNumber(" \t2.5 s"), 2.5);
    EXPECT_DOUBLE_EQ(presentation::LeadingNumber("1 2"), 12);
    EXPECT_DOUBLE_EQ(presentation::LeadingNumber("abc"), 0);
    EXPECT_DOUBLE_EQ(presentation::LeadingNumber(".5"), 0.5);
    EXPECT_DOUBLE_EQ(presentation::LeadingNumber("-3x"), -3);
    EXPECT_DOUBLE_EQ(presentation::LeadingNumber("1e3"), 1000);
    EXPECT_DOUBLE_EQ(presentation::LeadingNumber("7e"), 7);
}
