// The sound the program plays reaches a sound server (see SoundSink).
#include "platform/vlc/vlc_media_player.h"
#include "support/media_files.h"
#include "support/sound_sink.h"
#include "support/test_rig.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class SoundPath : public ::testing::Test {
  protected:
    void SetUp() override {
        const QString failed = sink.Start();
        ASSERT_TRUE(failed.isEmpty()) << failed.toStdString();
    }
    double Rms(int ms) { return sink.Rms(ms); }

    QTemporaryDir folder;
    SoundSink sink;
};

constexpr double kHeard = SoundSink::kHeard;
constexpr double kSilent = SoundSink::kSilent;

}  // namespace

TEST_F(SoundPath, RadioFilmAndSoundFileAreHeardAndStopMeansSilence) {
    TestRig::Options options;
    QString radio;
    options.customize = [&](platform::Platform& p) {
        platform::FileSystem* files = p.files.get();
        platform::VlcMediaPlayer::Options media;  // the audio output VLC picks itself
        media.hostPath = [files](const QString& path) { return files->HostPath(path); };
        p.media = std::make_unique<platform::VlcMediaPlayer>(media);
    };
    options.endpoints =
        platform::Endpoints{"site.test", "http://127.0.0.1:1/w.jpg", folder.path() + "/radio.wav"};
    ASSERT_TRUE(media_files::WriteWav(folder.path() + "/radio.wav", 30000));
    TestRig rig(options);
    rig.Load();
    (void)rig.files->CreateFolder("c:\\fileftp");
    ASSERT_TRUE(media_files::WriteAvi(rig.Host("c:\\fileftp\\clip.avi"), 64, 48, 40, 10, Qt::red));
    ASSERT_TRUE(media_files::WriteWav(rig.Host("c:\\fileftp\\tone.wav"), 4000));
    EXPECT_LT(Rms(500), kSilent);

    rig.form->StartRadio();
    ASSERT_TRUE(PumpUntil([&] { return rig.form->RadioPlaying; }, 10000));
    PumpUntil([] { return false; }, 500);
    EXPECT_GT(Rms(1000), kHeard) << "radio";
    rig.form->StopRadio();
    PumpUntil([] { return false; }, 500);
    EXPECT_LT(Rms(1000), kSilent) << "after the radio stopped";

    for (const auto& [word, command] :
         {std::pair<QString, QString>{"film", "film:clip.avi"}, {"mp3", "mp3:tone.wav"}}) {
        SCOPED_TRACE(command.toStdString());
        rig.flash1->setVariables.clear();
        rig.form->ShockwaveFlash1_FSCommand(word, command);
        PumpUntil([] { return false; }, 800);
        EXPECT_GT(Rms(1500), kHeard);
        ASSERT_TRUE(PumpUntil([&] { return rig.flash1->variables["film"] == "klaar"; }, 10000));
        rig.form->StopRadio();  // the radio comes back after each; silence it again
        PumpUntil([] { return false; }, 500);
        EXPECT_LT(Rms(800), kSilent);
    }
}
