#include "platform/vlc/vlc_media_player.h"
#include "support/media_files.h"
#include "support/test_rig.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>

#include <gtest/gtest.h>

namespace {

// The real engine with the dummy audio output; video goes to a window only under X11.
class VlcPlayer : public ::testing::Test {
  protected:
    VlcPlayer() { Start({}); }
    void Start(platform::VlcMediaPlayer::Options options) {
        options.audioOutput = "adummy";
        options.hostPath = [this](const QString& path) -> std::optional<QString> {
            if (path.startsWith("c:\\")) {
                return temp.path() + "/" + path.mid(3).replace('\\', '/');
            }
            return path;
        };
        player = std::make_unique<platform::VlcMediaPlayer>(options);
        player->PlayStateChange = [this](int state) { states << state; };
    }
    int Stops() const { return static_cast<int>(states.count(platform::kStopped)); }
    // Waits for a stop, then a little longer for any second one.
    bool WaitForStop(int ms = 10000) {
        const bool stopped = PumpUntil([&] { return Stops() > 0; }, ms);
        PumpUntil([] { return false; }, 400);
        return stopped;
    }
    QStringList OpenFiles() const {
        QStringList open;
        for (const QFileInfo& fd :
             QDir("/proc/self/fd")
                 .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            open << fd.symLinkTarget();
        }
        return open;
    }

    QTemporaryDir temp;
    std::unique_ptr<platform::VlcMediaPlayer> player;
    QList<int> states;
};

}  // namespace

TEST_F(VlcPlayer, ShortSoundFileEndsWithExactlyOneStop) {
    ASSERT_TRUE(player->Ready());
    ASSERT_TRUE(media_files::WriteWav(temp.path() + "/jingle.wav", 600));
    player->SetURL("c:\\jingle.wav");
    ASSERT_TRUE(WaitForStop());
    EXPECT_TRUE(states.contains(platform::kPlaying));
    EXPECT_EQ(Stops(), 1);
    EXPECT_EQ(states.last(), platform::kStopped);
}

TEST_F(VlcPlayer, MissingFileUnreachableStreamAndNotFoundEachStopOnce) {
    QProcess server;
    QDir().mkpath(temp.path() + "/www");
    server.start("python3", {DRAVONELLE_CONTENT_SITE, temp.path() + "/www"});
    ASSERT_TRUE(server.waitForReadyRead(10000));
    const QString port = QString::fromUtf8(server.readLine().trimmed());
    for (const QString& url : {QString("c:\\nothere.mp3"), QString("http://127.0.0.1:1/radio.mp3"),
                               "http://127.0.0.1:" + port + "/missing.asx"}) {
        SCOPED_TRACE(url.toStdString());
        states.clear();
        player->SetURL(url);
        EXPECT_TRUE(WaitForStop());
        EXPECT_EQ(Stops(), 1);
    }
    server.kill();
    server.waitForFinished();
}

TEST_F(VlcPlayer, AsxPlaylistIsFollowedToItsStream) {
    QProcess server;
    const QString www = temp.path() + "/www";
    QDir().mkpath(www);
    ASSERT_TRUE(media_files::WriteWav(www + "/stream.wav", 1500));
    server.start("python3", {DRAVONELLE_CONTENT_SITE, www});
    ASSERT_TRUE(server.waitForReadyRead(10000));
    const QString port = QString::fromUtf8(server.readLine().trimmed());
    QFile asx(www + "/radio.asx");
    ASSERT_TRUE(asx.open(QIODevice::WriteOnly));
    asx.write(("<ASX version=\"3.0\"><Entry><Ref href=\"http://127.0.0.1:" + port +
               "/stream.wav\"/></Entry></ASX>")
                  .toUtf8());
    asx.close();
    player->SetURL("http://127.0.0.1:" + port + "/radio.asx");
    player->Play();
    ASSERT_TRUE(WaitForStop(15000));
    EXPECT_EQ(Stops(), 1);
    QFile log(temp.path() + "/requests.log");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("/stream.wav"));
    server.kill();
    server.waitForFinished();
}

TEST_F(VlcPlayer, LettingGoWhilePlayingStopsReleasesAndReportsNothing) {
    ASSERT_TRUE(media_files::WriteWav(temp.path() + "/long.wav", 20000));
    player->SetURL("c:\\long.wav");
    ASSERT_TRUE(PumpUntil([&] { return states.contains(platform::kPlaying); }, 10000));
    EXPECT_TRUE(OpenFiles().contains(temp.path() + "/long.wav"))
        << OpenFiles().join(" ").toStdString();
    player->SetURL("");
    PumpUntil([] { return false; }, 500);
    EXPECT_EQ(Stops(), 0);
    EXPECT_FALSE(OpenFiles().contains(temp.path() + "/long.wav"));
    // Another media in place of a playing one: only the new one's end counts.
    ASSERT_TRUE(media_files::WriteWav(temp.path() + "/short.wav", 300));
    player->SetURL("c:\\long.wav");
    PumpUntil([&] { return states.count(platform::kPlaying) >= 2; }, 10000);
    player->SetURL("c:\\short.wav");
    ASSERT_TRUE(WaitForStop());
    EXPECT_EQ(Stops(), 1);
}

TEST_F(VlcPlayer, PlayerThatDoesNotLetGoIsReplacedWithoutHoldingTheWindow) {
    // The first stop stands for a stream that takes 4 s to let go.
    // The hook outlives the test on the stuck player's thread.
    const auto hold = std::make_shared<std::atomic<bool>>(true);
    platform::VlcMediaPlayer::Options options;
    options.stuckAfterMs = 300;
    options.beforeStop = [hold] {
        if (hold->exchange(false)) {
            QThread::msleep(4000);
        }
    };
    player.reset();
    Start(options);
    ASSERT_TRUE(media_files::WriteWav(temp.path() + "/radio.wav", 20000));
    ASSERT_TRUE(media_files::WriteWav(temp.path() + "/clip.wav", 400));
    player->SetURL("c:\\radio.wav");
    ASSERT_TRUE(PumpUntil([&] { return states.contains(platform::kPlaying); }, 10000));
    states.clear();
    QElapsedTimer held;
    held.start();
    player->SetURL("c:\\clip.wav");
    EXPECT_LT(held.elapsed(), 1000);
    // A new player plays the clip to its end long before the old one lets go.
    ASSERT_TRUE(PumpUntil([&] { return Stops() > 0; }, 3500));
    EXPECT_TRUE(states.contains(platform::kPlaying));
    PumpUntil([] { return false; }, 1000);
    EXPECT_EQ(Stops(), 1);
    // Letting go of the stuck player when the program ends is bounded too.
    player->SetURL("c:\\radio.wav");
    *hold = true;
    player->SetURL("");
    held.restart();
    player.reset();
    EXPECT_LT(held.elapsed(), 3500);
}

// Players let go while stuck are bounded: with two still stuck none takes their place and
// each media stops (never inside the call); once they end, a new player plays again.
TEST_F(VlcPlayer, StuckPlayersLetGoAreBounded) {
    // A stop sticks once armed, until the hold ends (at most 10 s after the test).
    const auto armed = std::make_shared<std::atomic<int>>(0);
    const auto hold = std::make_shared<std::atomic<bool>>(true);
    platform::VlcMediaPlayer::Options options;
    options.stuckAfterMs = 300;
    options.mostStuck = 2;
    options.beforeStop = [armed, hold] {
        if (armed->fetch_sub(1) <= 0) {
            ++*armed;
            return;
        }
        for (int i = 0; *hold && i < 1000; ++i) {
            QThread::msleep(10);
        }
    };
    player.reset();
    Start(options);
    ASSERT_TRUE(media_files::WriteWav(temp.path() + "/long.wav", 20000));
    ASSERT_TRUE(media_files::WriteWav(temp.path() + "/clip.wav", 400));
    for (int stuck = 1; stuck <= 2; ++stuck) {
        states.clear();
        player->SetURL("c:\\long.wav");
        ASSERT_TRUE(PumpUntil([&] { return states.contains(platform::kPlaying); }, 10000)) << stuck;
        ++*armed;
        player->SetURL("");  // its stop sticks
        PumpUntil([] { return false; }, 1500);
    }
    EXPECT_FALSE(player->Ready());
    states.clear();
    player->SetURL("c:\\clip.wav");
    EXPECT_TRUE(states.isEmpty());
    ASSERT_TRUE(WaitForStop(1000));
    EXPECT_FALSE(states.contains(platform::kPlaying));
    *hold = false;
    ASSERT_TRUE(PumpUntil([&] { return player->Ready(); }, 5000));
    states.clear();
    player->SetURL("c:\\clip.wav");
    ASSERT_TRUE(WaitForStop());
    EXPECT_TRUE(states.contains(platform::kPlaying));
}

TEST_F(VlcPlayer, RadioComesBackThroughTheWindowAfterAFilm) {
    // The window's restart logic on the real engine: a film ends, the radio returns.
    ASSERT_TRUE(media_files::WriteWav(temp.path() + "/radio.wav", 20000));
    ASSERT_TRUE(media_files::WriteWav(temp.path() + "/clip.wav", 400));
    TestRig::Options options;
    options.endpoints =
        platform::Endpoints{"site.test", "http://127.0.0.1:1/w.jpg", temp.path() + "/radio.wav"};
    options.customize = [&](platform::Platform& p) {
        platform::FileSystem* files = p.files.get();
        platform::VlcMediaPlayer::Options media;
        media.audioOutput = "adummy";
        media.hostPath = [files](const QString& path) { return files->HostPath(path); };
        p.media = std::make_unique<platform::VlcMediaPlayer>(media);
    };
    TestRig rig(options);
    rig.Load();
    (void)rig.files->CreateFolder("c:\\fileftp");
    QFile::copy(temp.path() + "/clip.wav", rig.Host("c:\\fileftp\\clip.wav"));
    rig.form->StartRadio();
    rig.form->ShockwaveFlash1_FSCommand("mp3", "mp3:clip.wav");
    ASSERT_TRUE(PumpUntil([&] { return rig.flash1->variables["film"] == "klaar"; }, 10000));
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"film=begin", "film=klaar"}));
    ASSERT_TRUE(PumpUntil([&] { return rig.form->RadioPlaying; }, 4000));
    PumpUntil([] { return false; }, 1000);
    // The radio's own stop before the film did not arm a second restart.
    EXPECT_EQ(rig.flash1->setVariables, QStringList({"film=begin", "film=klaar"}));
}

TEST_F(VlcPlayer, PlaylistAlternativesAreTriedUntilOnePlays) {
    platform::VlcMediaPlayer::Options options;
    options.streams.fetchTimeoutMs = 1500;
    player.reset();
    Start(options);
    QStringList playing;
    player->NowPlaying = [&](const QString& address) { playing << address; };
    QProcess server;
    const QString www = temp.path() + "/www";
    QDir().mkpath(www);
    ASSERT_TRUE(media_files::WriteWav(www + "/live.wav", 30000));
    QFile faults(temp.path() + "/faults");
    ASSERT_TRUE(faults.open(QIODevice::WriteOnly));
    faults.write("/hang.asx hang\n/flood.m3u flood\n");
    faults.close();
    server.start("python3", {DRAVONELLE_CONTENT_SITE, www});
    ASSERT_TRUE(server.waitForReadyRead(10000));
    const QString site = "http://127.0.0.1:" + QString::fromUtf8(server.readLine().trimmed());
    struct Case {
        const char* name;
        QString text;
        bool plays;
    };
    const QList<Case> cases = {
        {"fallback.asx",
         "<ASX VERSION=\"3.0\"><TITLE>Radio</TITLE><ENTRY>\n"
         "<REF HREF=\"mms://127.0.0.1:1/live\" />\n"
         "<REF HREF=\"http://127.0.0.1:1/stream.mp3\" />\n<REF HREF=\"%1/hang.asx\" />\n"
         "<REF HREF=\"%1/live.wav\" />\n</ENTRY></ASX>",
         true},
        {"dead-first.pls", "[playlist]\nFile1=%1/gone.mp3\nFile2=%1/flood.m3u\nFile3=%1/live.wav\n",
         true},
        {"nested.asx", "<asx><entryref href=\"dead-first.pls\"/></asx>", true},
        {"loop.asx",
         "<asx><entryref href=\"loop.asx\"/><entry><ref href=\"loop.asx\"/></entry></asx>", false},
        {"all-down.m3u", "#EXTM3U\nhttp://127.0.0.1:1/a\n%1/gone.ogg\n", false},
    };
    for (const Case& c : cases) {
        QFile list(www + "/" + c.name);
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write(QString(c.text).replace("%1", site).toUtf8());
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        states.clear();
        playing.clear();
        QElapsedTimer clock;
        clock.start();
        player->SetURL(site + "/" + c.name);
        player->Play();
        if (c.plays) {
            ASSERT_TRUE(PumpUntil([&] { return !playing.isEmpty(); }, 8000));
            EXPECT_EQ(playing, QStringList{site + "/live.wav"});
            EXPECT_EQ(Stops(), 0);
        } else {
            EXPECT_TRUE(WaitForStop(8000));
            EXPECT_EQ(Stops(), 1);
            EXPECT_TRUE(playing.isEmpty());
        }
        std::printf("%s: %lld ms\n", c.name, static_cast<long long>(clock.elapsed()));
    }
    player->SetURL("");
    server.kill();
    server.waitForFinished();
}
