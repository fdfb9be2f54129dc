#include "support/sound_sink.h"

#include "support/test_rig.h"

#include <QDir>
#include <QtEndian>

#include <cmath>

QString SoundSink::Start() {
    const QString run = folder_.path() + "/run";
    QDir().mkpath(run);
    const QString socket = run + "/native";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", folder_.path());
    env.insert("PULSE_RUNTIME_PATH", run);
    env.insert("PULSE_STATE_PATH", folder_.path() + "/state");
    server_.setProcessEnvironment(env);
    server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server_.start("pulseaudio", {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                                 "--disable-shm", "--log-level=error", "-L",
                                 "module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                                 "-L", "module-null-sink sink_name=out rate=8000 channels=1"});
    if (!server_.waitForStarted(5000)) {
        return "pulseaudio is not installed";
    }
    qputenv("PULSE_SERVER", ("unix:" + socket).toUtf8());
    if (!PumpUntil([&] { return QFile::exists(socket); }, 10000)) {
        return "pulseaudio did not start";
    }
    recorder_.start("parec", {"-d", "out.monitor", "--raw", "--format=s16le", "--channels=1",
                              "--rate=8000", "--latency-msec=20"});
    if (!recorder_.waitForStarted(5000)) {
        return "parec is not installed";
    }
    PumpUntil([] { return false; }, 300);
    return {};
}

void SoundSink::Stop() {
    for (QProcess* process : {&recorder_, &server_}) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished();
        }
    }
    qunsetenv("PULSE_SERVER");
}

double SoundSink::Rms(int ms) {
    recorder_.readAll();
    QByteArray sound;
    PumpUntil(
        [&] {
            sound += recorder_.readAll();
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
