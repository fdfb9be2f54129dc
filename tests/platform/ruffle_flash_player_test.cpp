#include "platform/ruffle/ruffle_flash_player.h"
#include "platform/ruffle/movies.h"
#include "support/ruffle_peer.h"
#include "support/test_rig.h"
#include "swf/download_movie.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtEndian>

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

// loadVariablesNum(url, 0) of each of `urls`, then at every frame fscommand(name, value)
// of each variable in `names`; 60 frames at 30 per second, then it stops.
QByteArray LoadVariablesMovie(const QStringList& urls, const QStringList& names) {
    swf::Writer w(8, QSize(200, 150), 30);
    Actions load;
    for (const QString& url : urls) {
        load.PushString(url).PushString("_level0").GetUrl2(false, true);
    }
    w.AddActions(load);
    w.ShowFrame();
    for (int frame = 0; frame < 60; ++frame) {
        Actions report;
        for (const QString& name : names) {
            report.PushString("FSCommand:" + name).PushString(name).GetVariable().GetUrl2();
        }
        w.AddActions(frame == 59 ? report.Stop() : report);
        w.ShowFrame();
    }
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
        platform::RuffleFlashPlayer::Options options = BaseOptions();
        options.hostPath = [this](const QString& path) { return files.HostPath(path); };
        options.contentFolders = {"c:\\"};
        ShowPlayer(options);
        player->FSCommand = [this](const QString& c, const QString& a) { commands << c + "|" + a; };
        ASSERT_TRUE(
            PumpUntil([&] { return platform::RuffleFlashPlayerPeer(*player).PageReady(); }, 30000))
            << "page not ready";
    }
    // The engine's files, and the temporary folder as the program's own.
    platform::RuffleFlashPlayer::Options BaseOptions() const {
        platform::RuffleFlashPlayer::Options options;
        options.engineFolder = DRAVONELLE_ENGINE_DIR;
        options.programFolder = temp.path();
        return options;
    }
    // A player with `options` in the place of the current one, shown at 400 x 300.
    void ShowPlayer(const platform::RuffleFlashPlayer::Options& options) {
        player = std::make_unique<platform::RuffleFlashPlayer>(options);
        player->Widget()->resize(400, 300);
        player->Widget()->show();
    }
    void Write(const QString& name, const QByteArray& bytes) {
        QFile file(temp.path() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    bool Running() {
        return PumpUntil(
                   [&] {
                       return platform::RuffleFlashPlayerPeer(*player).ShowingFrames() ||
                              platform::RuffleFlashPlayerPeer(*player).Failed();
                   },
                   20000) &&
               !platform::RuffleFlashPlayerPeer(*player).Failed();
    }
    QTemporaryDir temp;
    platform::DriveFileSystem files{temp.path()};  // the drive: the temporary folder
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
    EXPECT_FALSE(download->actionScript3);
    // An ActionScript 3 movie gets a host of its own kind, with its stage and colour.
    swf::Header as3{10, QRect(0, 0, 550, 400), 24, 90, QColor(Qt::white), true};
    const auto host = swf::ReadHeader(swf::HostMovie(as3));
    ASSERT_TRUE(host.has_value());
    EXPECT_TRUE(host->actionScript3);
    EXPECT_EQ(host->stage, as3.stage);
    EXPECT_EQ(host->background, as3.background);
    swf::Writer old(8, QSize(200, 150), 12);  // before version 9 the flag means nothing
    old.SetFileAttributes(true);
    old.ShowFrame();
    EXPECT_FALSE(swf::ReadHeader(old.Finish())->actionScript3);
}

// The header comes from the start of the file alone: a large compressed movie is not
// inflated whole, and a length that a crafted file claims allocates nothing.
TEST(SwfFiles, HeaderIsReadFromTheStartOfTheFileOnly) {
    QByteArray big = FramesMovie(7, 15, false, false);
    big.append(QByteArray(8 << 20, '\0'));  // a large body after the first frames
    QByteArray compressed = "CWS" + big.mid(3, 5) + qCompress(big.mid(8)).mid(4);
    const auto header = swf::ReadHeader(compressed.left(swf::kHeaderPrefix));
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->frameCount, 7);
    EXPECT_EQ(header->background, QColor(0, 0, 255));
    qToLittleEndian<quint32>(0xFFFFFFF0u, compressed.data() + 4);  // "4 GiB when inflated"
    EXPECT_TRUE(swf::ReadHeader(compressed.left(4096)).has_value());
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

    // A burst within one frame's time: only the latest value waits to be sent, and it
    // reaches the movie before what the movie is asked next.
    PumpUntil([] { return false; }, 100);
    for (int i = 0; i < 200; ++i) {
        player->SetVariable("ping", QString::number(i));
        player->SetVariable("other", QString::number(i));
    }
    EXPECT_EQ(platform::RuffleFlashPlayerPeer(*player).HeldVariables(), 2);  // but "ping" 0
    EXPECT_TRUE(PumpUntil([&] { return commands.contains("pong|199"); }, 5000));
    EXPECT_EQ(platform::RuffleFlashPlayerPeer(*player).HeldVariables(), 0);
    player->SetVariable("ping", "sent");
    player->SetVariable("ping", "held, then stopped");
    EXPECT_EQ(platform::RuffleFlashPlayerPeer(*player).HeldVariables(), 1);
    player->Stop();
    EXPECT_EQ(platform::RuffleFlashPlayerPeer(*player).HeldVariables(), 0);
    PumpUntil([] { return false; }, 300);  // the frames' last reports
    commands.clear();
    player->Play();
    EXPECT_TRUE(PumpUntil([&] { return !commands.isEmpty(); }, 5000));
    EXPECT_EQ(commands.first(), "pong|held, then stopped");
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

// Each renderer draws the picture; "auto" takes WebGL only where the GL is not drawn in
// software, and an engine that cannot get WebGL draws with the canvas all the same.
TEST_F(RufflePlayer, EachRendererDrawsTheMovie) {
    const QRegularExpression software("swiftshader|llvmpipe|softpipe|lavapipe|software|no WebGL",
                                      QRegularExpression::CaseInsensitiveOption);
    Write("shape.swf", FramesMovie(1, 12, true));
    for (const QString renderer : {"canvas", "webgl", "auto"}) {
        SCOPED_TRACE(renderer.toStdString());
        platform::RuffleFlashPlayer::Options options = BaseOptions();
        options.renderer = renderer;
        ShowPlayer(options);
        player->SetMovie("shape.swf");
        ASSERT_TRUE(Running());
        const QString chosen =
            renderer == "auto"
                ? (software.match(platform::RuffleFlashPlayerPeer(*player).Graphics()).hasMatch()
                       ? "canvas"
                       : "webgl")
                : renderer;
        EXPECT_EQ(player->Figures().renderer, chosen)
            << platform::RuffleFlashPlayerPeer(*player).Graphics().toStdString();
        QString drawnWith;
        static_cast<QWebEngineView*>(player->Widget())
            ->page()
            ->runJavaScript("dvDrawnWith()", [&](const QVariant& v) { drawnWith = v.toString(); });
        ASSERT_TRUE(PumpUntil([&] { return !drawnWith.isEmpty(); }, 5000));
        if (chosen == "canvas") {
            EXPECT_EQ(drawnWith, "canvas");
        }
        PumpUntil([] { return false; }, 500);
        const QImage image = player->Widget()->grab().toImage();
        EXPECT_GT(image.pixelColor(200, 150).red(), 200) << drawnWith.toStdString();
        EXPECT_GT(image.pixelColor(20, 20).blue(), 200) << drawnWith.toStdString();
    }
}

TEST_F(RufflePlayer, MissingMovieEndsAtOnce) {
    player->SetMovie("c:\\missing.swf");
    EXPECT_TRUE(platform::RuffleFlashPlayerPeer(*player).Failed());
    EXPECT_GE(player->CurrentFrame(), player->TotalFrames() - 1);
    EXPECT_EQ(player->Figures().moviesFailed, 1);
    // One kept in a hidden player was never on air: it is not counted.
    player->SetVisible(false);
    player->SetMovie("c:\\missing-too.swf");
    EXPECT_TRUE(platform::RuffleFlashPlayerPeer(*player).Failed());
    EXPECT_EQ(player->Figures().moviesFailed, 1);
}

// A window whose main or second player (or both) is the real engine; the other stays a
// fake that records the variables the window sets.
struct EngineRig {
    EngineRig(bool realMain, bool realSecond, int recycleAfterLoads = 50) {
        TestRig::Options options;
        options.customize = [=, this](platform::Platform& p) {
            platform::FileSystem* files = p.files.get();
            platform::RuffleFlashPlayer::Options flash;
            flash.engineFolder = DRAVONELLE_ENGINE_DIR;
            flash.programFolder = DRAVONELLE_ENGINE_DIR "/..";
            flash.hostPath = [files](const QString& path) { return files->HostPath(path); };
            flash.recycleAfterLoads = recycleAfterLoads;
            flash.requestSeen = [this](const QUrl& url, bool allowed) {
                if (url.isLocalFile()) {
                    (allowed ? read : refused) << url.fileName();
                }
            };
            if (realMain) {
                p.flash1 = std::make_unique<platform::RuffleFlashPlayer>(flash);
                main = static_cast<platform::RuffleFlashPlayer*>(p.flash1.get());
            }
            if (realSecond) {
                p.flash2 = std::make_unique<platform::RuffleFlashPlayer>(flash);
                second = static_cast<platform::RuffleFlashPlayer*>(p.flash2.get());
            }
        };
        rig = std::make_unique<TestRig>(options);
        rig->Load();
        (void)rig->files->CreateFolder("c:\\fileftp");
        rig->form->resize(640, 480);
        rig->form->show();
        for (auto* player : {main, second}) {
            if (player) {
                EXPECT_TRUE(PumpUntil(
                    [&] { return platform::RuffleFlashPlayerPeer(*player).PageReady(); }, 30000));
            }
        }
    }
    // Inserts `name` with the "flash" command and waits for its end; the seconds it ran.
    double Insert(const QString& name) {
        QElapsedTimer clock;
        clock.start();
        rig->form->ShockwaveFlash1_FSCommand("flash", "movie:" + name);
        EXPECT_TRUE(rig->form->flashtimer.Enabled()) << name.toStdString();
        EXPECT_TRUE(PumpUntil([&] { return !rig->form->flashtimer.Enabled(); }, 30000))
            << name.toStdString() << " did not end";
        return clock.elapsed() / 1000.0;
    }
    qsizetype Answers(const QString& answer) const {
        return rig->flash1->setVariables.count(answer);
    }
    std::unique_ptr<TestRig> rig;
    QStringList read, refused;  // the files that the pages asked for
    platform::RuffleFlashPlayer* main = nullptr;
    platform::RuffleFlashPlayer* second = nullptr;
};

TEST(RuffleWindow, InsertedMovieEndsAtItsLastFrameThroughThePoll) {
    EngineRig engine(false, true);
    // Twelve frames at 60 per second, the last one stops: several frames can pass
    // between two polls.
    engine.rig->WriteDriveFile("c:\\fileftp\\insert.swf", FramesMovie(12, 60, true));
    engine.Insert("insert.swf");
    EXPECT_EQ(engine.rig->form->lblInfo->text(), "11-12");
    EXPECT_FALSE(engine.second->Visible());
    EXPECT_TRUE(engine.rig->form->RadioPlaying);
}

// Inserted movies one after another, as a channel shows its items all day; the engine's
// page is loaded afresh on the way.
TEST(RuffleWindow, EveryInsertBackToBackPlaysToItsEnd) {
    EngineRig engine(false, true, 20);
    engine.rig->WriteDriveFile("c:\\fileftp\\item.swf", FramesMovie(12, 12, false, true));
    for (int i = 1; i <= 50; ++i) {
        const double seconds = engine.Insert("item.swf");
        EXPECT_GE(seconds, 0.9) << "insert " << i;
        EXPECT_EQ(engine.Answers("film=klaar"), i) << "insert " << i;
        EXPECT_FALSE(platform::RuffleFlashPlayerPeer(*engine.second).Failed()) << "insert " << i;
    }
    EXPECT_EQ(engine.second->Figures().pageLoads, 3);
}

TEST(RuffleWindow, EveryMainMovieReplacementPlays) {
    EngineRig engine(true, false, 8);
    engine.rig->WriteDriveFile("c:\\fileftp\\main.swf", FramesMovie(12, 12, false, true));
    auto* main = engine.main;
    for (int i = 1; i <= 20; ++i) {
        QElapsedTimer clock;
        clock.start();
        engine.rig->form->ShockwaveFlash1_FSCommand("flashmovie", "main.swf");
        ASSERT_TRUE(PumpUntil(
            [&] {
                return platform::RuffleFlashPlayerPeer(*main).ShowingFrames() ||
                       platform::RuffleFlashPlayerPeer(*main).Failed();
            },
            30000));
        ASSERT_FALSE(platform::RuffleFlashPlayerPeer(*main).Failed()) << "replacement " << i;
        EXPECT_TRUE(
            PumpUntil([&] { return main->CurrentFrame() >= main->TotalFrames() - 1; }, 30000));
        EXPECT_GE(clock.elapsed(), 900) << "replacement " << i;
        EXPECT_EQ(main->TotalFrames(), 12);
    }
    EXPECT_EQ(main->Figures().pageLoads, 3);
}

// Movies made with Flash's own tools: sounds, a movie loaded from beside it, variables
// from a text file beside it, a video through NetStream, and an ActionScript 3 movie with
// a streamed sound (90 frames at 24 per second: 3.75 s). Each plays as the main movie,
// and plays to its end both times it is inserted; what it loads comes from the content
// folder.
// loadclip.swf also asks for a file that does not exist, as the engine's own test does.
::testing::AssertionResult NothingButTheMissingFile(const QStringList& refused) {
    if (QStringList(refused).filter(QRegularExpression("^(?!invalid\\.txt$)")).isEmpty()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "refused: " << refused.join(' ').toStdString();
}

TEST(RuffleWindow, RealMoviesPlayAsMainAndInsertedMovies) {
    const QStringList movies = {"sound.swf", "loadclip.swf", "loadvariables.swf", "flv.swf",
                                "stream_sound.swf"};
    const QString long3 = "stream_sound.swf";  // lasts 3.75 s
    const auto copy = [&](EngineRig& engine) {
        for (const QString& name :
             movies + QStringList{"target.swf", "testvars.txt", "test_video.flv"}) {
            QFile real(QString(DRAVONELLE_TEST_DATA "/data/realmovies/") + name);
            ASSERT_TRUE(real.open(QIODevice::ReadOnly)) << name.toStdString();
            engine.rig->WriteDriveFile("c:\\fileftp\\" + name, real.readAll());
        }
    };
    const QStringList loaded = {"target.swf", "testvars.txt", "test_video.flv"};
    {
        EngineRig engine(true, false);
        copy(engine);
        for (const QString& name : movies) {
            engine.rig->form->ShockwaveFlash1_FSCommand("flashmovie", name);
            EXPECT_TRUE(PumpUntil(
                [&] {
                    return platform::RuffleFlashPlayerPeer(*engine.main).ShowingFrames() ||
                           platform::RuffleFlashPlayerPeer(*engine.main).Failed();
                },
                20000));
            EXPECT_FALSE(platform::RuffleFlashPlayerPeer(*engine.main).Failed())
                << name.toStdString();
            if (name == long3) {
                QElapsedTimer clock;
                clock.start();
                EXPECT_EQ(engine.main->TotalFrames(), 90);
                EXPECT_TRUE(PumpUntil([&] { return engine.main->CurrentFrame() >= 89; }, 10000));
                EXPECT_GE(clock.elapsed(), 3000);  // from its first shown frame
            }
            PumpUntil([] { return false; }, 1000);  // time for what it loads
        }
        for (const QString& name : loaded) {
            EXPECT_TRUE(engine.read.contains(name)) << name.toStdString();
        }
        EXPECT_TRUE(NothingButTheMissingFile(engine.refused));
    }
    EngineRig engine(false, true);
    copy(engine);
    int inserted = 0;
    for (int round = 0; round < 2; ++round) {
        for (const QString& name : movies) {
            const double seconds = engine.Insert(name);
            if (name == long3) {
                EXPECT_GE(seconds, 3.5) << round;
            }
            ++inserted;
            EXPECT_TRUE(platform::RuffleFlashPlayerPeer(*engine.second).ShowingFrames())
                << name.toStdString() << " " << round;
            EXPECT_FALSE(platform::RuffleFlashPlayerPeer(*engine.second).Failed())
                << name.toStdString() << " " << round;
            EXPECT_EQ(engine.Answers("film=klaar"), inserted);
        }
    }
    // A movie of one frame ends before what it loads has come; it comes all the same.
    PumpUntil(
        [&] {
            return std::all_of(loaded.cbegin(), loaded.cend(),
                               [&](const QString& name) { return engine.read.count(name) >= 2; });
        },
        5000);
    for (const QString& name : loaded) {
        EXPECT_GE(engine.read.count(name), 2) << name.toStdString();
    }
    EXPECT_TRUE(NothingButTheMissingFile(engine.refused));
}

// A frame report still on its way when the movie is replaced belongs to the old movie.
TEST_F(RufflePlayer, LateReportOfAReplacedMovieIsDropped) {
    Write("frames.swf", FramesMovie(30, 30, false));
    player->SetMovie("c:\\frames.swf");
    player->SetMovie("c:\\frames.swf");
    player->OnFrame(1, "30,30");
    player->OnFailed(1, "gone");
    EXPECT_FALSE(platform::RuffleFlashPlayerPeer(*player).ShowingFrames());
    EXPECT_FALSE(platform::RuffleFlashPlayerPeer(*player).Failed());
    EXPECT_LT(player->CurrentFrame(), player->TotalFrames() - 1);
    ASSERT_TRUE(Running());
    EXPECT_EQ(player->TotalFrames(), 30);
}

// A movie that shows no frame in time counts as ended, and the next one gets a fresh page.
TEST_F(RufflePlayer, MovieWithoutAFrameInTimeEndsAndTheNextGetsAFreshPage) {
    platform::RuffleFlashPlayer::Options options = BaseOptions();
    options.loadTimeoutMs = 1;
    options.loadTimeoutMaxMs = 1;
    player = std::make_unique<platform::RuffleFlashPlayer>(options);
    ASSERT_TRUE(
        PumpUntil([&] { return platform::RuffleFlashPlayerPeer(*player).PageReady(); }, 30000));
    Write("frames.swf", FramesMovie(30, 30, false));
    player->SetMovie("frames.swf");
    ASSERT_TRUE(PumpUntil([&] { return platform::RuffleFlashPlayerPeer(*player).Failed(); }, 5000));
    EXPECT_GE(player->CurrentFrame(), player->TotalFrames() - 1);
    EXPECT_EQ(player->Figures().pageLoads, 1);
    player->SetMovie("frames.swf");
    EXPECT_EQ(player->Figures().pageLoads, 2);
}

// An engine still at work on a movie (loading it, running its animation frames) is not
// failed by the first bound, as on a machine busy with other work.
TEST_F(RufflePlayer, MovieOfAnEngineStillAtWorkIsGivenMoreTime) {
    platform::RuffleFlashPlayer::Options options = BaseOptions();
    options.loadTimeoutMs = 1;  // far less than any first frame takes
    options.loadTimeoutMaxMs = 20000;
    ShowPlayer(options);
    ASSERT_TRUE(
        PumpUntil([&] { return platform::RuffleFlashPlayerPeer(*player).PageReady(); }, 30000));
    Write("frames.swf", FramesMovie(30, 30, false));
    player->SetMovie("frames.swf");
    EXPECT_TRUE(Running());
    EXPECT_EQ(player->TotalFrames(), 30);
}

// The time to the first frame counts from when the page is ready: a page that loads
// slowly on a busy machine does not fail the movie that waits for it.
TEST_F(RufflePlayer, MovieWaitingForASlowPageIsNotFailed) {
    platform::RuffleFlashPlayer::Options options = BaseOptions();
    options.loadTimeoutMs = 1;  // any page takes longer than this to load
    player = std::make_unique<platform::RuffleFlashPlayer>(options);
    Write("frames.swf", FramesMovie(30, 30, false));
    player->SetMovie("frames.swf");
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(
        PumpUntil([&] { return platform::RuffleFlashPlayerPeer(*player).PageReady(); }, 30000));
    EXPECT_FALSE(platform::RuffleFlashPlayerPeer(*player).Failed())
        << "failed while its page loaded for " << clock.elapsed() << " ms";
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

// A new engine gets the movie again and what the movie was last told; while its page
// loads, only the latest of each request waits for it.
TEST_F(RufflePlayer, EngineProcessThatDiesIsStartedAgainWithItsMovie) {
    Write("frames.swf", FramesMovie(30, 30, false));
    player->SetMovie("c:\\frames.swf");
    ASSERT_TRUE(Running());
    player->SetVariable("Status", "Maakt verbinding..");
    auto* view = static_cast<QWebEngineView*>(player->Widget());
    view->page()->triggerAction(QWebEnginePage::Stop);
    view->load(QUrl("chrome://crash"));
    ASSERT_TRUE(
        PumpUntil([&] { return !platform::RuffleFlashPlayerPeer(*player).PageReady(); }, 10000));
    EXPECT_EQ(platform::RuffleFlashPlayerPeer(*player).PendingScripts(),
              3);  // the movie, play, and the last "Status"
    for (int i = 0; i < 300; ++i) {
        player->SetVariable("film", QString::number(i));
        player->Play();
        player->Rewind();
    }
    for (int i = 0; i < 5; ++i) {
        player->SetMovie("c:\\frames.swf");
    }
    player->Play();
    EXPECT_EQ(platform::RuffleFlashPlayerPeer(*player).PendingScripts(),
              4);  // "Status", "film", the movie, play
    EXPECT_TRUE(PumpUntil(
        [&] {
            return platform::RuffleFlashPlayerPeer(*player).PageReady() &&
                   platform::RuffleFlashPlayerPeer(*player).ShowingFrames();
        },
        30000));
    EXPECT_EQ(player->TotalFrames(), 30);
}

// Movies read their own files in any letter case and reach the network; a file outside
// their folders stays out of reach by every address form.
TEST_F(RufflePlayer, MovieReachesItsFilesAndTheNetworkButNothingElse) {
    QTemporaryDir outside;
    const auto write = [](const QString& path, const QByteArray& text) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    write(temp.path() + "/flash.txt", "a=found");
    QDir().mkpath(outside.path() + "/www");
    write(outside.path() + "/www/vars.txt", "b=network");
    write(outside.path() + "/secret.txt", "c=secret");
    write(outside.path() + "/climb.txt", "d=secret");
    write(outside.path() + "/linked.txt", "e=secret");
    ASSERT_TRUE(QFile::link(outside.path() + "/linked.txt", temp.path() + "/link.txt"));
    QProcess site;
    site.start("python3", {DRAVONELLE_CONTENT_SITE, outside.path() + "/www"});
    ASSERT_TRUE(site.waitForReadyRead(10000));
    const QString port = QString::fromUtf8(site.readLine().trimmed());
    Write("reach.swf",
          LoadVariablesMovie(
              {"FLASH.TXT", "http://127.0.0.1:" + port + "/vars.txt",
               QUrl::fromLocalFile(outside.path() + "/secret.txt").toString(),
               "../" + QFileInfo(outside.path()).fileName() + "/climb.txt", "link.txt"},
              {"a", "b", "c", "d", "e"}));
    player->SetMovie("c:\\reach.swf");
    ASSERT_TRUE(Running());
    EXPECT_TRUE(PumpUntil(
        [&] { return commands.contains("a|found") && commands.contains("b|network"); }, 10000))
        << commands.mid(0, 10).join(' ').toStdString();
    PumpUntil([] { return false; }, 1000);
    for (const char* name : {"c", "d", "e"}) {
        EXPECT_FALSE(commands.contains(QString(name) + "|secret")) << name;
    }
    site.kill();
    site.waitForFinished();
}

// A page made to hang (a busy loop), and an engine whose frames stop while its page still
// answers: each is found within its bound, the engine's process ends, and the page starts
// afresh with the movie, which plays again.
TEST_F(RufflePlayer, StuckEngineIsStartedAfreshWithItsMovie) {
    platform::RuffleFlashPlayer::Options options = BaseOptions();
    options.hostPath = [this](const QString& path) { return files.HostPath(path); };
    options.contentFolders = {"c:\\"};
    options.heartbeatMs = 500;
    options.unresponsiveMs = 3000;
    options.frameStallMs = 3000;
    ShowPlayer(options);
    QStringList reasons;
    player->EngineRecovered = [&](const QString& reason) { reasons << reason; };
    ASSERT_TRUE(
        PumpUntil([&] { return platform::RuffleFlashPlayerPeer(*player).PageReady(); }, 30000));
    Write("loop.swf", FramesMovie(24, 24, false));
    player->SetMovie("c:\\loop.swf");
    ASSERT_TRUE(Running());
    const struct {
        const char* what;
        const char* script;
        const char* reason;
    } stuck[] = {
        {"busy loop", "setTimeout(() => { for (;;) {} }, 0);", "the page has not answered"},
        {"frames stop", "generation = -1;", "has shown no frame"},
    };
    int recoveries = 0;
    for (const auto& s : stuck) {
        const int loads = player->Figures().pageLoads;
        static_cast<QWebEngineView*>(player->Widget())->page()->runJavaScript(s.script);
        ASSERT_TRUE(PumpUntil([&] { return reasons.size() > recoveries; }, 20000)) << s.what;
        EXPECT_TRUE(reasons.last().contains(s.reason)) << reasons.last().toStdString();
        EXPECT_EQ(player->Figures().pageLoads, loads + 1) << s.what;
        EXPECT_EQ(player->Figures().recoveries, ++recoveries);
        ASSERT_TRUE(Running()) << s.what;
        const int frame = player->CurrentFrame();
        EXPECT_TRUE(PumpUntil([&] { return player->CurrentFrame() != frame; }, 5000)) << s.what;
    }
    // A movie that stands still by itself keeps its engine.
    Write("still.swf", FramesMovie(1, 24, true));
    player->SetMovie("c:\\still.swf");
    ASSERT_TRUE(Running());
    PumpUntil([] { return false; }, 4500);
    EXPECT_EQ(reasons.size(), recoveries);
}
