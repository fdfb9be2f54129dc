#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A PulseAudio server of the test's own with a null sink (8 kHz mono), whose monitor is
// recorded; programs started after Start() play into it.
class SoundSink {
  public:
    ~SoundSink() { Stop(); }
    // Empty when the sink runs, else why it does not.
    QString Start();
    void Stop();
    // The root mean square of what reached the sink over the next `ms` (full scale 32768),
    // pumping events meanwhile; -1 when nothing was recorded.
    double Rms(int ms);

    // The test tone at the players' half volume is well above kHeard; silence well below
    // kSilent.
    static constexpr double kHeard = 1000;
    static constexpr double kSilent = 50;

  private:
    QTemporaryDir folder_;
    QProcess server_;
    QProcess recorder_;
};
