#include "platform/vlc/vlc_media_player.h"

#include "platform/log.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QUrl>

#include <vlc/vlc.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

namespace {

const libvlc_event_type_t kEvents[] = {
    libvlc_MediaPlayerOpening, libvlc_MediaPlayerPlaying,    libvlc_MediaPlayerPaused,
    libvlc_MediaPlayerStopped, libvlc_MediaPlayerEndReached, libvlc_MediaPlayerEncounteredError,
    libvlc_MediaPlayerVout,
};

bool IsAddress(const QString& url) {
    const QUrl parsed(url);
    return parsed.isValid() && parsed.scheme().size() > 1 && !url.startsWith('/');
}

qint64 MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// One libVLC player and the thread that makes its calls, in the order they were given.
// The thread releases the player when it ends; what it shares with the window's thread
// lives as long as either needs it.
class VlcMediaPlayer::Engine {
  public:
    // A call to make; `current` is the media whose events count (see Current).
    using Job = std::function<void(libvlc_media_player_t* player, std::atomic<quint64>& current)>;

    Engine(libvlc_media_player_t* player, VlcMediaPlayer* owner)
        : shared_(std::make_shared<Shared>()) {
        shared_->player = player;
        shared_->owner = owner;
        thread_ = std::thread(&Engine::Run, shared_);
    }
    ~Engine() {
        if (thread_.joinable()) {
            thread_.detach();
        }
    }

    libvlc_media_player_t* Player() const { return shared_->player; }
    VlcMediaPlayer* Owner() const { return shared_->owner; }
    // The media the player was given last; its events count, those of earlier ones not.
    quint64 Current() const { return shared_->current; }

    void Post(Job job) {
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            shared_->jobs.push_back(std::move(job));
        }
        shared_->wake.notify_one();
    }
    // How long the call under way has been running; 0 when none is.
    qint64 BusyMs() const {
        const qint64 since = shared_->busySince;
        return since == 0 ? 0 : MonotonicMs() - since;
    }
    // Ends the thread once the calls given so far are done (none, when `dropQueued`), and
    // waits at most `waitMs` for it; a thread still busy then ends on its own, counted in
    // `stillBusy` until it does.
    void Finish(bool dropQueued, int waitMs, const std::shared_ptr<std::atomic<int>>& stillBusy) {
        std::unique_lock<std::mutex> lock(shared_->mutex);
        if (dropQueued) {
            shared_->jobs.clear();
        }
        shared_->quit = true;
        shared_->wake.notify_one();
        if (shared_->done.wait_for(lock, std::chrono::milliseconds(waitMs),
                                   [this] { return shared_->finished; })) {
            lock.unlock();
            thread_.join();
        } else if (stillBusy) {
            shared_->stillBusy = stillBusy;
            ++*stillBusy;
        }
    }

  private:
    struct Shared {
        libvlc_media_player_t* player = nullptr;
        VlcMediaPlayer* owner = nullptr;
        std::atomic<quint64> current{0};
        std::atomic<qint64> busySince{0};
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable done;
        std::deque<Job> jobs;
        bool quit = false;
        bool finished = false;
        std::shared_ptr<std::atomic<int>> stillBusy;  // set once it was let go still busy
    };
    static void Run(std::shared_ptr<Shared> shared) {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(shared->mutex);
                shared->wake.wait(lock, [&] { return shared->quit || !shared->jobs.empty(); });
                if (shared->jobs.empty()) {
                    break;
                }
                job = std::move(shared->jobs.front());
                shared->jobs.pop_front();
            }
            shared->busySince = MonotonicMs();
            job(shared->player, shared->current);
            shared->busySince = 0;
        }
        shared->current = 0;
        libvlc_media_player_stop(shared->player);
        libvlc_media_player_release(shared->player);
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            shared->finished = true;
            if (shared->stillBusy) {
                --*shared->stillBusy;
            }
        }
        shared->done.notify_all();
    }

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

VlcMediaPlayer::VlcMediaPlayer(Options options)
    : options_(std::move(options)), chooser_(options_.streams) {
    surface_.setAttribute(Qt::WA_TransparentForMouseEvents);
    surface_.setAttribute(Qt::WA_NoSystemBackground);
    video_.setParent(&surface_);
    video_.setAttribute(Qt::WA_TransparentForMouseEvents);
    // Only VLC draws into the video window. Where the program's window is drawn with
    // OpenGL for its web views, Qt would flush a native child it paints through a context
    // the child's window cannot take; under X11 that ends the connection.
    video_.setUpdatesEnabled(false);
    video_.hide();

    // A window of our own for the video only where X11 gives one; elsewhere VLC would
    // try every output and may crash, so it gets the dummy output.
    embedVideo_ = QGuiApplication::platformName() == QLatin1String("xcb");
    std::vector<QByteArray> args = {"--no-video-title-show",
                                    "--no-snapshot-preview",
                                    "--no-stats",
                                    "--no-osd",
                                    "--no-xlib",
                                    "--prefetch-buffer-size=256",
                                    "--prefetch-read-size=65536",
                                    "--quiet"};
    if (!embedVideo_) {
        args.emplace_back("--vout=vdummy");
    }
    if (!options_.audioOutput.isEmpty()) {
        args.push_back("--aout=" + options_.audioOutput.toUtf8());
    }
    for (const QString& extra : options_.extraArguments) {
        args.push_back(extra.toUtf8());
    }
    std::vector<const char*> argv;
    for (const QByteArray& arg : args) {
        argv.push_back(arg.constData());
    }
    instance_ = libvlc_new(static_cast<int>(argv.size()), argv.data());
    if (!instance_) {
        qCCritical(lcPlatform) << "libVLC cannot start: no media will play";
        return;
    }
    engine_ = StartEngine();
    chooser_.Play = [this](const QString& address) { PlayStream(address); };
    chooser_.Exhausted = [this](bool played, const QString& reason) {
        NothingPlays(played, reason);
    };
    openTimeout_.setSingleShot(true);
    connect(&openTimeout_, &QTimer::timeout, this, [this] {
        ++generation_;  // what the address still reports is no longer heard
        chooser_.Failed(QStringLiteral("not playing after %1 ms").arg(options_.openTimeoutMs));
    });
    // The video window becomes a native one when a medium is first given (winId() in
    // PlayMedia), after a window manager has taken the program's window: some (matchbox)
    // map every subwindow of a window they take, and would show this one, hidden or not.
    video_.setAttribute(Qt::WA_DontCreateNativeAncestors);
    stuckCheck_.setInterval(1000);
    connect(&stuckCheck_, &QTimer::timeout, this, [this] { CheckStuck(); });
    stuckCheck_.start();
}

VlcMediaPlayer::~VlcMediaPlayer() {
    if (engine_) {
        LetGo(engine_, 2000);
        engine_.reset();
    }
    if (media_) {
        libvlc_media_release(media_);
    }
    if (instance_) {
        libvlc_release(instance_);  // a player still ending holds the instance itself
    }
}

std::shared_ptr<VlcMediaPlayer::Engine> VlcMediaPlayer::StartEngine() {
    libvlc_media_player_t* player = libvlc_media_player_new(instance_);
    if (!player) {
        qCCritical(lcPlatform) << "libVLC player cannot start: no media will play";
        return nullptr;
    }
    libvlc_video_set_mouse_input(player, 0);
    libvlc_video_set_key_input(player, 0);
    libvlc_audio_set_volume(player, 50);
    auto engine = std::make_shared<Engine>(player, this);
    libvlc_event_manager_t* events = libvlc_media_player_event_manager(player);
    for (libvlc_event_type_t type : kEvents) {
        libvlc_event_attach(events, type, &VlcMediaPlayer::OnVlcEvent, engine.get());
    }
    return engine;
}

// Detaches from the engine's events (libVLC returns once no callback runs), then lets its
// thread end after at most `waitMs`: with the calls given so far when it is not stuck.
void VlcMediaPlayer::LetGo(const std::shared_ptr<Engine>& engine, int waitMs) {
    libvlc_event_manager_t* events = libvlc_media_player_event_manager(engine->Player());
    for (libvlc_event_type_t type : kEvents) {
        libvlc_event_detach(events, type, &VlcMediaPlayer::OnVlcEvent, engine.get());
    }
    engine->Finish(waitMs == 0, waitMs, stuck_);
}

// A player stuck in a call is let go and a new one takes its place, while fewer than
// `mostStuck` let go are still stuck: past that, nothing plays (every media stops) until
// one of them ends, since each holds its thread and its stream.
void VlcMediaPlayer::CheckStuck() {
    if (!engine_) {
        if (waitingForStuck_ && *stuck_ < options_.mostStuck) {
            waitingForStuck_ = false;
            qCWarning(lcPlatform).noquote()
                << "a stuck media player ended; a new player takes over";
            StartAgain();
        }
        return;
    }
    const qint64 busy = engine_->BusyMs();
    if (busy <= options_.stuckAfterMs) {
        return;
    }
    LetGo(engine_, 0);
    engine_.reset();
    if (*stuck_ >= options_.mostStuck) {
        waitingForStuck_ = true;
        qCCritical(lcPlatform).noquote()
            << "media player has not let go of a media for" << busy << "ms, and" << *stuck_
            << "players let go are still stuck: no media plays until one of them ends";
        if (!url_.isEmpty()) {
            StoppedBecause(QStringLiteral("the media players are stuck"));
        }
        return;
    }
    qCWarning(lcPlatform).noquote()
        << QStringLiteral(
               "media player has not let go of a media for %1 ms: a new player "
               "takes its place (%2 let go still stuck)")
               .arg(busy)
               .arg(stuck_->load());
    StartAgain();
}

void VlcMediaPlayer::StartAgain() {
    engine_ = StartEngine();
    if (!engine_) {
        stuckCheck_.stop();
        StoppedBecause(QStringLiteral("no media player"));
        return;
    }
    ApplyVideoSettings();
    if (media_ && !stoppedReported_) {
        PlayMedia();  // what the stuck player was still to start
    }
}

// On one of VLC's threads: copy what matters and queue it to the event loop.
void VlcMediaPlayer::OnVlcEvent(const libvlc_event_t* event, void* opaque) {
    auto* engine = static_cast<Engine*>(opaque);
    VlcMediaPlayer* self = engine->Owner();
    const quint64 generation = engine->Current();
    Event copy;
    switch (event->type) {
        case libvlc_MediaPlayerOpening:
            copy = Event::kOpening;
            break;
        case libvlc_MediaPlayerPlaying:
            copy = Event::kPlaying;
            // Before the first sound comes out, not after.
            libvlc_audio_set_volume(engine->Player(), 50);
            break;
        case libvlc_MediaPlayerPaused:
            copy = Event::kPaused;
            break;
        case libvlc_MediaPlayerStopped:
            copy = Event::kStopped;
            break;
        case libvlc_MediaPlayerEndReached:
            copy = Event::kEnded;
            break;
        case libvlc_MediaPlayerEncounteredError:
            copy = Event::kError;
            break;
        case libvlc_MediaPlayerVout:
            copy = event->u.media_player_vout.new_count > 0 ? Event::kVideo : Event::kNoVideo;
            break;
        default:
            return;
    }
    QMetaObject::invokeMethod(
        self, [self, generation, copy] { self->Handle(generation, copy); }, Qt::QueuedConnection);
}

void VlcMediaPlayer::Handle(quint64 generation, Event event) {
    if (generation != generation_) {
        return;  // about a media that was let go
    }
    switch (event) {
        case Event::kOpening:
            Report(kTransitioning);
            break;
        case Event::kPlaying:
            Report(kPlaying);
            if (chooser_.Active() && !streamPlaying_) {
                streamPlaying_ = true;
                openTimeout_.stop();
                qCInfo(lcPlatform).noquote()
                    << "media plays"
                    << (streamAddress_ == url_ ? url_ : streamAddress_ + " for " + url_);
                if (NowPlaying) {
                    NowPlaying(streamAddress_);
                }
            }
            break;
        case Event::kPaused:
            Report(kPaused);
            break;
        case Event::kVideo:
            video_.setVisible(embedVideo_);
            break;
        case Event::kNoVideo:
            video_.hide();
            break;
        case Event::kError: {
            const QString address = chooser_.Active() ? streamAddress_ : url_;
            if (LogFailure(address)) {
                qCWarning(lcPlatform).noquote() << "media cannot be played:" << address;
            }
            EndOfMedia();
            break;
        }
        case Event::kEnded:
        case Event::kStopped:
            EndOfMedia();
            break;
    }
}

void VlcMediaPlayer::EndOfMedia() {
    // A playlist (".asx") ends at once with its entries as sub-items: play the first.
    if (media_ && !followedPlaylist_) {
        libvlc_media_list_t* items = libvlc_media_subitems(media_);
        libvlc_media_t* first = nullptr;
        if (items) {
            libvlc_media_list_lock(items);
            if (libvlc_media_list_count(items) > 0) {
                first = libvlc_media_list_item_at_index(items, 0);
            }
            libvlc_media_list_unlock(items);
            libvlc_media_list_release(items);
        }
        if (first) {
            followedPlaylist_ = true;
            // What the playlist still reports, now or while it is replaced, is no end.
            ++generation_;
            libvlc_media_release(media_);
            media_ = first;
            PlayMedia();
            return;
        }
    }
    if (chooser_.Active()) {
        // The address chosen has ended: the chooser says what comes next. What it still
        // reports is no second end.
        ++generation_;
        openTimeout_.stop();
        if (streamPlaying_) {
            chooser_.Ended();
        } else {
            chooser_.Failed(QStringLiteral("does not play"));
        }
        return;
    }
    video_.hide();
    Report(kStopped);
}

void VlcMediaPlayer::PlayStream(const QString& address) {
    ReleaseMedia();  // the address tried before
    streamAddress_ = address;
    streamPlaying_ = false;
    media_ = libvlc_media_new_location(instance_, address.toUtf8().constData());
    if (!media_) {
        chooser_.Failed(QStringLiteral("cannot be opened"));
        return;
    }
    ApplyVideoSettings();
    PlayMedia();
    openTimeout_.start(options_.openTimeoutMs);
}

void VlcMediaPlayer::NothingPlays(bool played, const QString& reason) {
    ReleaseMedia();
    openTimeout_.stop();
    if (!played && LogFailure(QStringLiteral("all of ") + url_)) {
        qCWarning(lcPlatform).noquote() << "media" << url_ << "does not play:" << reason;
    }
    StoppedBecause(played ? QStringLiteral("the stream ended") : reason);
}

void VlcMediaPlayer::StoppedBecause(const QString& reason) {
    if (!stoppedReported_ && MediaError) {
        MediaError(reason);
    }
    Report(kStopped);
}

bool VlcMediaPlayer::LogFailure(const QString& address) {
    constexpr qint64 kQuietMs = 10 * 60 * 1000;
    if (failuresLogged_.size() > 100) {
        failuresLogged_.clear();  // hostile playlists name many addresses
    }
    QElapsedTimer& last = failuresLogged_[address];
    if (last.isValid() && !last.hasExpired(kQuietMs)) {
        return false;
    }
    last.start();
    return true;
}

void VlcMediaPlayer::Report(int state) {
    if (state == kStopped) {
        if (stoppedReported_) {
            return;
        }
        stoppedReported_ = true;
    }
    if (state == lastState_ && state != kStopped) {
        return;
    }
    lastState_ = state;
    if (PlayStateChange) {
        PlayStateChange(state);
    }
}

void VlcMediaPlayer::ReleaseMedia() {
    followedPlaylist_ = false;
    stoppedReported_ = false;
    lastState_ = kUndefined;
    video_.hide();
    // What the old media reports from now on, also while it stops, is dropped.
    ++generation_;
    if (engine_) {
        engine_->Post([hook = options_.beforeStop](libvlc_media_player_t* player,
                                                   std::atomic<quint64>& current) {
            current = 0;
            if (hook) {
                hook();
            }
            libvlc_media_player_stop(player);
            libvlc_media_player_set_media(player, nullptr);
        });
    }
    if (media_) {
        libvlc_media_release(media_);  // the player holds its own while it lets go
        media_ = nullptr;
    }
}

// Gives the player `media_` and starts it, with the window the video goes into now.
void VlcMediaPlayer::PlayMedia() {
    libvlc_media_retain(media_);
    const std::shared_ptr<libvlc_media_t> media(media_, libvlc_media_release);
    // The native window changes when the widget moves to another window: hand over the
    // one it has now.
    const uint32_t window = embedVideo_ ? static_cast<uint32_t>(video_.winId()) : 0;
    engine_->Post([media, generation = generation_, window](libvlc_media_player_t* player,
                                                            std::atomic<quint64>& current) {
        current = 0;
        libvlc_media_player_set_media(player, media.get());
        if (window != 0) {
            libvlc_media_player_set_xwindow(player, window);
        }
        current = generation;
        libvlc_media_player_play(player);
    });
}

void VlcMediaPlayer::SetURL(const QString& url) {
    ReleaseMedia();
    chooser_.Cancel();
    openTimeout_.stop();
    url_ = url;
    if (url.isEmpty()) {
        return;
    }
    if (!engine_) {  // nothing plays: it stops, in a turn of its own
        QMetaObject::invokeMethod(
            this,
            [this, generation = generation_] {
                if (generation == generation_) {
                    StoppedBecause(QStringLiteral("no media player"));
                }
            },
            Qt::QueuedConnection);
        return;
    }
    if (playlist::IsStreamAddress(QUrl(url))) {
        chooser_.Start(url);  // PlayStream follows, once it is known what to play
        return;
    }
    if (IsAddress(url) && !url.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        media_ = libvlc_media_new_location(instance_, url.toUtf8().constData());
    } else {
        const auto host = options_.hostPath ? options_.hostPath(url) : std::optional<QString>(url);
        if (host) {
            media_ = libvlc_media_new_path(instance_, host->toUtf8().constData());
        }
    }
    if (!media_) {
        qCWarning(lcPlatform).noquote() << "media cannot be opened:" << url;
        QMetaObject::invokeMethod(
            this, [this, generation = generation_] { Handle(generation, Event::kError); },
            Qt::QueuedConnection);
        return;
    }
    ApplyVideoSettings();
    PlayMedia();  // playback starts whenever a URL is given
}

void VlcMediaPlayer::Play() {
    if (engine_ && media_) {
        engine_->Post([](libvlc_media_player_t* player, std::atomic<quint64>&) {
            if (!libvlc_media_player_is_playing(player)) {
                libvlc_media_player_play(player);
            }
        });
    }
}

void VlcMediaPlayer::SetStretchToFit(bool stretch) {
    stretch_ = stretch;
    ApplyVideoSettings();
}

void VlcMediaPlayer::SetEnabled(bool) {
    // The player takes no mouse or key input at all; nothing else changes.
}

void VlcMediaPlayer::KeepClear(const QRegion& windowRegion) {
    keepClear_ = windowRegion;
    GeometryChanged();
}

void VlcMediaPlayer::GeometryChanged() {
    video_.setGeometry(0, 0, surface_.width(), surface_.height());
    // The video window of our own lies above every other control: cut the controls that
    // must stay in front out of it (its shape also clips the window VLC draws into).
    const QRegion clear = keepClear_.translated(-surface_.pos());
    if (clear.intersects(video_.rect())) {
        video_.setMask(QRegion(video_.rect()) - clear);
    } else {
        video_.clearMask();
    }
    ApplyVideoSettings();
}

void VlcMediaPlayer::ApplyVideoSettings() {
    if (!engine_) {
        return;
    }
    QByteArray ratio;
    if (stretch_ && surface_.width() > 0 && surface_.height() > 0) {
        ratio = QByteArray::number(surface_.width()) + ':' + QByteArray::number(surface_.height());
    }
    engine_->Post([ratio](libvlc_media_player_t* player, std::atomic<quint64>&) {
        libvlc_video_set_scale(player, 0);
        libvlc_video_set_aspect_ratio(player, ratio.isEmpty() ? nullptr : ratio.constData());
    });
}

}  // namespace platform
