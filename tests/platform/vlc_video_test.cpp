// Runs under Xvfb (QT_QPA_PLATFORM=xcb): the film's video lands in the rectangle that
// the movie's placement asks for, in a window that also holds the web engine's view of
// the main movie, as the program's does. Where Qt draws that window with OpenGL, it must
// never try to draw the video's own window that way.
#include "platform/ruffle/movies.h"
#include "platform/ruffle/ruffle_flash_player.h"
#include "platform/vlc/vlc_media_player.h"
#include "support/media_files.h"
#include "support/ruffle_peer.h"
#include "support/test_rig.h"
#include "swf/download_movie.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <gtest/gtest.h>

namespace {

bool Reddish(QColor c) {
    return c.red() > 180 && c.green() < 90 && c.blue() < 90;
}

QStringList contextFailures;
QtMessageHandler previousHandler = nullptr;

void NoteContextFailures(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains("make context current") || text.contains("non-opengl surface")) {
        contextFailures << text;
    }
    previousHandler(type, context, text);
}

}  // namespace

TEST(VlcVideo, FilmFillsThePlacedRectangle) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under Xvfb";
    previousHandler = qInstallMessageHandler(NoteContextFailures);
    TestRig::Options options;
    options.customize = [](platform::Platform& p) {
        platform::FileSystem* files = p.files.get();
        platform::VlcMediaPlayer::Options media;
        media.audioOutput = "adummy";
        media.hostPath = [files](const QString& path) { return files->HostPath(path); };
        p.media = std::make_unique<platform::VlcMediaPlayer>(media);
        platform::RuffleFlashPlayer::Options flash;
        flash.engineFolder = DRAVONELLE_ENGINE_DIR;
        flash.programFolder = DRAVONELLE_ENGINE_DIR "/..";
        flash.hostPath = media.hostPath;
        p.flash1 = std::make_unique<platform::RuffleFlashPlayer>(flash);
        p.flash2 = std::make_unique<platform::RuffleFlashPlayer>(flash);
    };
    TestRig rig(options);
    rig.Load();
    (void)rig.files->CreateFolder("c:\\fileftp");
    ASSERT_TRUE(media_files::WriteY4m(rig.Host("c:\\fileftp\\clip.y4m"), 64, 48, 80, 10, Qt::red));
    auto& form = *rig.form;
    form.move(0, 0);
    form.showFullScreen();
    ASSERT_TRUE(PumpUntil([&] { return form.isVisible(); }, 5000));
    auto* engine = dynamic_cast<platform::RuffleFlashPlayer*>(&form.ShockwaveFlash1);
    ASSERT_TRUE(
        PumpUntil([&] { return platform::RuffleFlashPlayerPeer(*engine).PageReady(); }, 30000));
    rig.WriteDriveFile("c:\\fileftp\\loop.swf", swf::DownloadMovie());
    engine->SetMovie("c:\\fileftp\\loop.swf");
    ASSERT_TRUE(
        PumpUntil([&] { return platform::RuffleFlashPlayerPeer(*engine).ShowingFrames(); }, 30000));
    QList<int> states;
    auto* player = dynamic_cast<platform::VlcMediaPlayer*>(&form.MediaPlayer1);
    ASSERT_TRUE(player && player->ShowsVideo());
    form.MediaPlayer1.PlayStateChange = [&](int state) { states << state; };

    // On a loaded machine the first picture can follow "playing" by seconds: the screen is
    // looked at once the film shows in the middle of its rectangle, within a bound.
    const QPoint origin = form.mapToGlobal(QPoint(0, 0));
    const int w = form.width(), h = form.height();
    QImage image;
    const auto grabWhenShown = [&](QPoint probe) {
        return PumpUntil(
            [&] {
                image = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
                return Reddish(image.pixelColor(origin + probe));
            },
            20000);
    };
    form.ShockwaveFlash1_FSCommand("film", "film:clip.y4m(10,20,60,80)");
    ASSERT_TRUE(PumpUntil([&] { return states.contains(platform::kPlaying); }, 20000));
    EXPECT_TRUE(grabWhenShown(QPoint(static_cast<int>(0.35 * w), h / 2)));
    const auto at = [&](double fx, double fy) {
        return image.pixelColor(origin.x() + static_cast<int>(fx * w),
                                origin.y() + static_cast<int>(fy * h));
    };
    image.save(QString(DRAVONELLE_TEST_OUTPUT) + "/film_placement.png");
    // Inside the edges 10 %, 20 %, 60 %, 80 %: the film, stretched over the whole rectangle.
    for (const auto& [fx, fy] : {std::pair{0.12, 0.22}, {0.35, 0.5}, {0.58, 0.78}}) {
        EXPECT_TRUE(Reddish(at(fx, fy)))
            << fx << "," << fy << " " << at(fx, fy).name().toStdString();
    }
    // Outside them: not the film.
    for (const auto& [fx, fy] : {std::pair{0.05, 0.5}, {0.35, 0.1}, {0.7, 0.5}, {0.35, 0.9}}) {
        EXPECT_FALSE(Reddish(at(fx, fy)))
            << fx << "," << fy << " " << at(fx, fy).name().toStdString();
    }

    // A film over the whole window leaves the corner buttons and the panel in front.
    states.clear();
    form.ShockwaveFlash1_FSCommand("film", "film:clip.y4m");
    ASSERT_TRUE(PumpUntil([&] { return states.contains(platform::kPlaying); }, 20000));
    form.CmdShowinstelling->click();
    EXPECT_TRUE(grabWhenShown(QPoint(w - 20, h - 20)));
    PumpUntil([] { return false; }, 500);  // the panel drawn over it
    const QImage full = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    full.save(QString(DRAVONELLE_TEST_OUTPUT) + "/film_with_panel.png");
    const auto inWindow = [&](QPoint p) { return full.pixelColor(origin + p); };
    EXPECT_TRUE(Reddish(inWindow(QPoint(w - 20, h - 20))));
    const QRect button = form.CmdShowinstelling->geometry();
    EXPECT_FALSE(Reddish(inWindow(button.center())));
    const QRect panel = form.extra->geometry();
    EXPECT_FALSE(Reddish(inWindow(panel.center())));
    EXPECT_FALSE(Reddish(inWindow(panel.topLeft() + QPoint(10, 30))));
    EXPECT_TRUE(contextFailures.isEmpty()) << contextFailures.join('\n').toStdString();
    qInstallMessageHandler(previousHandler);
}
