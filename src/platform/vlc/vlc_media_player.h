#pragma once

#include "platform/media_player.h"
#include "platform/vlc/stream_chooser.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

struct libvlc_instance_t;
struct libvlc_media_player_t;
struct libvlc_media_t;
struct libvlc_event_t;

namespace platform {

// The media player on libVLC: the radio (a playlist or stream address), films in the
// placed rectangle and sound files. A network address goes through a StreamChooser,
// which follows playlists and tries their alternatives; an address that does not start
// playing within `openTimeoutMs` counts as failed. Its widget is transparent; a native video window
// inside it is shown only while a video plays. VLC's events are copied and queued to
// the event loop, and each media reports "stopped" once, when it ends, fails or drops;
// letting go of a media ("" or another address) reports nothing.
//
// libVLC's calls run on a thread of the player's own, one after another, since stopping
// a stream can take seconds. A player that has not let go of a media after
// `stuckAfterMs` is left to end on its own, and a new one takes its place; while
// `mostStuck` of those are still stuck, none takes its place and no media plays.
class VlcMediaPlayer : public QObject, public WindowsMediaPlayer {
  public:
    struct Options {
        // Maps a drive path to a host path; nullopt refuses it.
        std::function<std::optional<QString>(const QString&)> hostPath;
        QString audioOutput;  // VLC's audio output module; empty for its own choice
        QStringList extraArguments;
        int stuckAfterMs = 10000;
        int mostStuck = 3;  // players let go that may still be stuck; past that none plays
        int openTimeoutMs = 10000;
        StreamChooser::Options streams;
        // Runs on the player's thread before each stop; tests hold it there to stand for a
        // stream that does not let go.
        std::function<void()> beforeStop;
    };
    explicit VlcMediaPlayer(Options options);
    ~VlcMediaPlayer() override;

    QWidget* Widget() override { return &surface_; }
    void SetURL(const QString& url) override;
    QString URL() const override { return url_; }
    void Play() override;
    void SetStretchToFit(bool stretch) override;
    void SetEnabled(bool enabled) override;
    void KeepClear(const QRegion& windowRegion) override;

    // Whether libVLC could be started; without it the player reports every media as
    // stopped at once.
    bool Ready() const { return engine_ != nullptr; }
    // Whether video goes into a window of ours (X11) or to a dummy output.
    bool ShowsVideo() const { return embedVideo_; }

  protected:
    void GeometryChanged() override;

  private:
    enum class Event { kOpening, kPlaying, kPaused, kEnded, kStopped, kError, kVideo, kNoVideo };
    class Engine;
    static void OnVlcEvent(const libvlc_event_t* event, void* engine);
    void Handle(quint64 generation, Event event);
    void Report(int state);
    void EndOfMedia();
    void PlayStream(const QString& address);
    void NothingPlays(bool played, const QString& reason);
    // Reports the stop, told first why (MediaError).
    void StoppedBecause(const QString& reason);
    // Whether a failure of `address` is to be logged: once in ten minutes.
    bool LogFailure(const QString& address);
    void ReleaseMedia();
    void PlayMedia();
    void ApplyVideoSettings();
    std::shared_ptr<Engine> StartEngine();
    void LetGo(const std::shared_ptr<Engine>& engine, int waitMs);
    void CheckStuck();
    void StartAgain();

    Options options_;
    QWidget surface_;
    QWidget video_;
    QTimer stuckCheck_;
    QTimer openTimeout_;
    StreamChooser chooser_;
    libvlc_instance_t* instance_ = nullptr;
    std::shared_ptr<Engine> engine_;
    // How many players let go are still stuck in a call; their threads count down.
    std::shared_ptr<std::atomic<int>> stuck_ = std::make_shared<std::atomic<int>>(0);
    bool waitingForStuck_ = false;  // none plays until fewer are stuck
    libvlc_media_t* media_ = nullptr;
    QString url_;
    QRegion keepClear_;
    QString streamAddress_;  // what the chooser gave the player last
    bool streamPlaying_ = false;
    QHash<QString, QElapsedTimer> failuresLogged_;
    bool stretch_ = true;
    bool embedVideo_ = false;
    bool followedPlaylist_ = false;
    bool stoppedReported_ = false;
    int lastState_ = kUndefined;
    quint64 generation_ = 1;  // of the media given last; 0 stands for none
};

}  // namespace platform
