#include "platform/ruffle/ruffle_flash_player.h"
#include "platform/ruffle/movies.h"
#include "support/test_rig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

namespace {

using swf::Actions;

// fscommand(command, args) with both as constants.
Actions FsCommand(const QString& command, const QString& args) {
    Actions a;
    a.PushString("FSCommand:" + command).PushString(args).GetUrl2();
    return a;
}

QByteArray CommandMovie() {
    swf::Writer w(8, QSize(200, 150), 24);
    w.SetBackground(Qt::black);
    w.AddActions(FsCommand("hello", "world, with a comma & \"quotes\"").Stop());
    w.ShowFrame();
    return w.Finish(true);  // zlib-compressed, as most movies are
}

// Answers every frame with fscommand("pong", ping).
QByteArray PingMovie() {
    swf::Writer w(8, QSize(200, 150), 30);
    Actions a;
    a.PushString("FSCommand:pong").PushString("ping").GetVariable().GetUrl2();
    w.AddActions(a);
    w.ShowFrame();
    w.ShowFrame();
    return w.Finish();
}

QByteArray FramesMovie(int frames, double fps, bool stopAtEnd, bool compress = false) {
    swf::Writer w(8, QSize(200, 150), fps);
    w.SetBackground(QColor(0, 0, 255));
    w.AddRectangle(1, QRect(50, 50, 100, 50), QColor(255, 0, 0), 1);
    for (int i = 0; i < frames; ++i) {
        if (stopAtEnd && i == frames - 1) {
            w.AddActions(Actions().Stop());
        }
        w.ShowFrame();
    }
    return w.Finish(compress);
}

class RufflePlayer : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::RuffleFlashPlayer::Options options;
        options.engineFolder = DRAVONELLE_ENGINE_DIR;
        options.programFolder = temp.path();
        options.hostPath = [this](const QString& path) -> std::optional<QString> {
            return temp.path() + "/" + QString(path).remove("c:\\");
        };
        player = std::make_unique<platform::RuffleFlashPlayer>(options);
        player->FSCommand = [this](const QString& c, const QString& a) { commands << c + "|" + a; };
        player->Widget()->resize(400, 300);
        player->Widget()->show();
        ASSERT_TRUE(PumpUntil([&] { return player->PageReady(); }, 30000)) << "page not ready";
    }
    void Write(const QString& name, const QByteArray& bytes) {
        QFile file(temp.path() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    bool Running() {
        return PumpUntil([&] { return player->ShowingFrames() || player->Failed(); }, 20000) &&
               !player->Failed();
    }
    QTemporaryDir temp;
    std::unique_ptr<platform::RuffleFlashPlayer> player;
    QStringList commands;
};

}  // namespace

TEST(SwfFiles, HeaderOfWrittenMoviesReadsBack) {
    for (bool compress : {false, true}) {
        const auto header = swf::ReadHeader(FramesMovie(7, 15, false, compress));
        ASSERT_TRUE(header.has_value());
        EXPECT_EQ(header->stage, QRect(0, 0, 200, 150));
        EXPECT_DOUBLE_EQ(header->frameRate, 15);
        EXPECT_EQ(header->frameCount, 7);
        EXPECT_EQ(header->background, QColor(0, 0, 255));
    }
    const auto compressed = swf::ReadHeader(CommandMovie());
    ASSERT_TRUE(compressed.has_value());
    EXPECT_EQ(compressed->stage.size(), QSize(200, 150));
    EXPECT_FALSE(swf::ReadHeader("not a movie").has_value());
    EXPECT_FALSE(swf::ReadHeader(QByteArray("CWS\x08\x40\x00\x00\x00garbage", 15)).has_value());
    const auto download = swf::ReadHeader(swf::DownloadMovie());
    ASSERT_TRUE(download.has_value());
    EXPECT_EQ(download->stage.size(), QSize(800, 600));
}

TEST_F(RufflePlayer, CommandsArriveWithBothTextsIntact) {
    Write("cmd.swf", CommandMovie());
    player->SetMovie("c:\\cmd.swf");
    ASSERT_TRUE(PumpUntil([&] { return !commands.isEmpty(); }, 20000));
    EXPECT_EQ(commands.first(), "hello|world, with a comma & \"quotes\"");
}

TEST_F(RufflePlayer, SetVariableIsSeenByTheRunningMovie) {
    Write("ping.swf", PingMovie());
    player->SetMovie("c:\\ping.swf");
    ASSERT_TRUE(Running());
    player->SetVariable("ping", "42 \\ 'x'");
    EXPECT_TRUE(PumpUntil([&] { return commands.contains("pong|42 \\ 'x'"); }, 5000))
        << commands.join("; ").toStdString();
}

TEST_F(RufflePlayer, FramesRewindStopAndPlay) {
    Write("frames.swf", FramesMovie(30, 30, false));
    player->SetMovie("c:\\frames.swf");
    ASSERT_TRUE(Running());
    EXPECT_EQ(player->TotalFrames(), 30);
    ASSERT_TRUE(PumpUntil([&] { return player->CurrentFrame() >= 5; }, 5000));
    player->Stop();
    PumpUntil([] { return false; }, 300);
    const int stopped = player->CurrentFrame();
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(player->CurrentFrame(), stopped);
    player->Rewind();
    EXPECT_TRUE(PumpUntil([&] { return player->CurrentFrame() == 0; }, 3000));
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(player->CurrentFrame(), 0);  // rewound and stopped at the first frame
    player->Play();
    EXPECT_TRUE(PumpUntil([&] { return player->CurrentFrame() >= 3; }, 3000));
}

TEST_F(RufflePlayer, PictureShowsTheMovieStretchedToThePlayer) {
    Write("shape.swf", FramesMovie(1, 12, true));
    player->SetMovie("c:\\shape.swf");
    ASSERT_TRUE(Running());
    PumpUntil([] { return false; }, 1000);
    const QImage image = player->Widget()->grab().toImage();
    image.save(temp.path() + "/../ruffle_shape.png");
    // Stage 200 x 150 stretched to 400 x 300: the rectangle (50, 50, 100, 50) doubles.
    const auto near = [](QColor c, QColor want) {
        return std::abs(c.red() - want.red()) < 40 && std::abs(c.green() - want.green()) < 40 &&
               std::abs(c.blue() - want.blue()) < 40;
    };
    EXPECT_TRUE(near(image.pixelColor(200, 150), Qt::red))
        << image.pixelColor(200, 150).name().toStdString();
    EXPECT_TRUE(near(image.pixelColor(20, 20), Qt::blue))
        << image.pixelColor(20, 20).name().toStdString();
    EXPECT_TRUE(near(image.pixelColor(380, 280), Qt::blue));
}

TEST_F(RufflePlayer, MissingMovieEndsAtOnce) {
    player->SetMovie("c:\\missing.swf");
    EXPECT_TRUE(player->Failed());
    EXPECT_GE(player->CurrentFrame(), player->TotalFrames() - 1);
}

TEST(RuffleWindow, InsertedMovieEndsAtItsLastFrameThroughThePoll) {
    TestRig::Options options;
    options.customize = [](platform::Platform& p) {
        platform::FileSystem* files = p.files.get();
        platform::RuffleFlashPlayer::Options flash;
        flash.engineFolder = DRAVONELLE_ENGINE_DIR;
        flash.programFolder = DRAVONELLE_ENGINE_DIR "/..";
        flash.hostPath = [files](const QString& path) { return files->HostPath(path); };
        p.flash1 = std::make_unique<platform::RuffleFlashPlayer>(flash);
        p.flash2 = std::make_unique<platform::RuffleFlashPlayer>(flash);
    };
    TestRig rig(options);
    rig.Load();
    rig.files->CreateFolder("c:\\fileftp");
    // Twelve frames at 60 per second, the last one stops: several frames can pass
    // between two polls.
    rig.WriteDriveFile("c:\\fileftp\\insert.swf", FramesMovie(12, 60, true));
    auto& form = *rig.form;
    form.show();
    auto* second = dynamic_cast<platform::RuffleFlashPlayer*>(&form.ShockwaveFlash2);
    ASSERT_TRUE(PumpUntil([&] { return second->PageReady(); }, 30000));
    form.ShockwaveFlash1_FSCommand("flash", "movie:insert.swf");
    EXPECT_TRUE(form.flashtimer.Enabled());
    ASSERT_TRUE(PumpUntil([&] { return !form.flashtimer.Enabled(); }, 20000));
    EXPECT_EQ(form.lblInfo->text(), "11-12");
    EXPECT_FALSE(second->Visible());
    EXPECT_TRUE(form.RadioPlaying);
}

TEST_F(RufflePlayer, DownloadMovieShowsTheStatusText) {
    platform::RuffleFlashPlayer::Options options;
    options.engineFolder = DRAVONELLE_ENGINE_DIR;
    options.programFolder = DRAVONELLE_ENGINE_DIR "/..";
    player = std::make_unique<platform::RuffleFlashPlayer>(options);
    player->Widget()->resize(800, 600);
    player->Widget()->show();
    player->SetMovie("download.swf");
    ASSERT_TRUE(Running());
    player->SetVariable("Status", "Downloading: 42 %");
    PumpUntil([] { return false; }, 1000);
    const QImage image = player->Widget()->grab().toImage();
    image.save(QString(DRAVONELLE_ENGINE_DIR) + "/../../download_screen.png");
    int green = 0;
    for (int y = 360; y < 400; ++y) {
        for (int x = 0; x < 800; ++x) {
            const QColor c = image.pixelColor(x, y);
            green += c.green() > 150 && c.red() < 100 ? 1 : 0;
        }
    }
    EXPECT_GT(green, 100);  // the status line, in green
}

TEST_F(RufflePlayer, EngineProcessThatDiesIsStartedAgainWithItsMovie) {
    Write("frames.swf", FramesMovie(30, 30, false));
    player->SetMovie("c:\\frames.swf");
    ASSERT_TRUE(Running());
    auto* view = static_cast<QWebEngineView*>(player->Widget());
    view->page()->triggerAction(QWebEnginePage::Stop);
    view->load(QUrl("chrome://crash"));
    ASSERT_TRUE(PumpUntil([&] { return !player->PageReady(); }, 10000));
    EXPECT_TRUE(PumpUntil([&] { return player->PageReady() && player->ShowingFrames(); }, 30000));
    EXPECT_EQ(player->TotalFrames(), 30);
}
