// The sound the program plays reaches a sound server: a PulseAudio server of the test's
// own with a null sink, whose monitor the test records.
#include "platform/vlc/vlc_media_player.h"
#include "support/media_files.h"
#include "support/test_rig.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>

namespace {

class SoundSink : public ::testing::Test {
  protected:
    void SetUp() override {
        const QString run = folder.path() + "/run";
        QDir().mkpath(run);
        const QString socket = run + "/native";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", folder.path());
        env.insert("PULSE_RUNTIME_PATH", run);
        env.insert("PULSE_STATE_PATH", folder.path() + "/state");
        server.setProcessEnvironment(env);
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start("pulseaudio", {"-n", "--daemonize=no", "--exit-idle-time=-1",
                                    "--use-pid-file=no", "--disable-shm", "--log-level=error", "-L",
                                    "module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                                    "-L", "module-null-sink sink_name=out rate=8000 channels=1"});
        ASSERT_TRUE(server.waitForStarted(5000)) << "pulseaudio is not installed";
        qputenv("PULSE_SERVER", ("unix:" + socket).toUtf8());
        ASSERT_TRUE(PumpUntil([&] { return QFile::exists(socket); }, 10000));
        recorder.start("parec", {"-d", "out.monitor", "--raw", "--format=s16le", "--channels=1",
                                 "--rate=8000", "--latency-msec=20"});
        ASSERT_TRUE(recorder.waitForStarted(5000));
        PumpUntil([] { return false; }, 300);
    }
    void TearDown() override {
        recorder.kill();
        recorder.waitForFinished();
        server.kill();
        server.waitForFinished();
        qunsetenv("PULSE_SERVER");
    }

    // The root mean square of what reached the sink over the next `ms` (full scale 32768).
    double Rms(int ms) {
        recorder.readAll();
        QByteArray sound;
        PumpUntil(
            [&] {
                sound += recorder.readAll();
                return false;
            },
            ms);
        double sum = 0;
        const qsizetype samples = sound.size() / 2;
        for (qsizetype i = 0; i < samples; ++i) {
            const double value = qFromLittleEndian<qint16>(sound.constData() + 2 * i);
            sum += value * value;
        }
        return samples > 0 ? std::sqrt(sum / static_cast<double>(samples)) : -1;
    }

    QTemporaryDir folder;
    QProcess server;
    QProcess recorder;
};

}  // namespace

TEST_F(SoundSink, RadioFilmAndSoundFileAreHeardAndStopMeansSilence) {
    // The tone is 8000 of 32768 at full volume; the player plays at half volume.
    constexpr double kHeard = 1000;
    constexpr double kSilent = 50;
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
    rig.files->CreateFolder("c:\\fileftp");
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
