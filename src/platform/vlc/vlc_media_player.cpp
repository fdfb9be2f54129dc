#include "platform/vlc/vlc_media_player.h"

#include "platform/log.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QUrl>

#include <vlc/vlc.h>

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

}  // namespace

VlcMediaPlayer::VlcMediaPlayer(Options options) : options_(std::move(options)) {
    surface_.setAttribute(Qt::WA_TransparentForMouseEvents);
    surface_.setAttribute(Qt::WA_NoSystemBackground);
    video_.setParent(&surface_);
    video_.setAttribute(Qt::WA_TransparentForMouseEvents);
    // Only VLC draws into the video window. The program's window is drawn with OpenGL
    // for its web views, and Qt would flush a native child it paints through a context
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
    player_ = libvlc_media_player_new(instance_);
    if (!player_) {
        qCCritical(lcPlatform) << "libVLC player cannot start: no media will play";
        return;
    }
    libvlc_video_set_mouse_input(player_, 0);
    libvlc_video_set_key_input(player_, 0);
    libvlc_audio_set_volume(player_, 50);
    libvlc_event_manager_t* events = libvlc_media_player_event_manager(player_);
    for (libvlc_event_type_t type : kEvents) {
        libvlc_event_attach(events, type, &VlcMediaPlayer::OnVlcEvent, this);
    }
    if (embedVideo_) {
        video_.setAttribute(Qt::WA_NativeWindow);
        video_.setAttribute(Qt::WA_DontCreateNativeAncestors);
    }
}

VlcMediaPlayer::~VlcMediaPlayer() {
    if (player_) {
        ++generation_;
        libvlc_event_manager_t* events = libvlc_media_player_event_manager(player_);
        for (libvlc_event_type_t type : kEvents) {
            libvlc_event_detach(events, type, &VlcMediaPlayer::OnVlcEvent, this);
        }
        libvlc_media_player_stop(player_);
        libvlc_media_player_release(player_);
    }
    if (media_) {
        libvlc_media_release(media_);
    }
    if (instance_) {
        libvlc_release(instance_);
    }
}

// On one of VLC's threads: copy what matters and queue it to the event loop.
void VlcMediaPlayer::OnVlcEvent(const libvlc_event_t* event, void* opaque) {
    auto* self = static_cast<VlcMediaPlayer*>(opaque);
    const quint64 generation = self->generation_.load();
    Event copy;
    switch (event->type) {
        case libvlc_MediaPlayerOpening:
            copy = Event::kOpening;
            break;
        case libvlc_MediaPlayerPlaying:
            copy = Event::kPlaying;
            // Before the first sound comes out, not after.
            libvlc_audio_set_volume(self->player_, 50);
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
    if (generation != generation_.load()) {
        return;  // about a media that was let go
    }
    switch (event) {
        case Event::kOpening:
            Report(kTransitioning);
            break;
        case Event::kPlaying:
            Report(kPlaying);
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
        case Event::kError:
            // The same address failing again and again (a radio that stays away) is
            // reported every ten minutes.
            if (url_ != lastFailedUrl_ || !lastFailure_.isValid() ||
                lastFailure_.hasExpired(10 * 60 * 1000)) {
                qCWarning(lcPlatform).noquote() << "media cannot be played:" << url_;
                lastFailedUrl_ = url_;
                lastFailure_.start();
            }
            EndOfMedia(generation);
            break;
        case Event::kEnded:
        case Event::kStopped:
            EndOfMedia(generation);
            break;
    }
}

void VlcMediaPlayer::EndOfMedia(quint64 generation) {
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
            generation_ = generation + 1;
            libvlc_media_release(media_);
            media_ = first;
            libvlc_media_player_set_media(player_, media_);
            ++generation_;
            libvlc_media_player_play(player_);
            return;
        }
    }
    video_.hide();
    Report(kStopped);
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
    if (player_) {
        libvlc_media_player_stop(player_);
        libvlc_media_player_set_media(player_, nullptr);
    }
    if (media_) {
        libvlc_media_release(media_);
        media_ = nullptr;
    }
    // What the old media reported, also during the stop just now, is dropped.
    ++generation_;
}

void VlcMediaPlayer::SetURL(const QString& url) {
    ReleaseMedia();
    url_ = url;
    if (url.isEmpty()) {
        return;
    }
    if (!player_) {
        Report(kStopped);
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
        const quint64 generation = generation_.load();
        QMetaObject::invokeMethod(
            this, [this, generation] { Handle(generation, Event::kError); }, Qt::QueuedConnection);
        return;
    }
    libvlc_media_player_set_media(player_, media_);
    if (embedVideo_) {
        // The native window changes when the widget moves to another window: hand over
        // the one it has now.
        libvlc_media_player_set_xwindow(player_, static_cast<uint32_t>(video_.winId()));
    }
    ApplyVideoSettings();
    libvlc_media_player_play(player_);  // playback starts whenever a URL is given
}

void VlcMediaPlayer::Play() {
    if (player_ && media_ && !libvlc_media_player_is_playing(player_)) {
        libvlc_media_player_play(player_);
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
    if (!player_) {
        return;
    }
    libvlc_video_set_scale(player_, 0);
    if (stretch_ && surface_.width() > 0 && surface_.height() > 0) {
        const QByteArray ratio =
            QByteArray::number(surface_.width()) + ':' + QByteArray::number(surface_.height());
        libvlc_video_set_aspect_ratio(player_, ratio.constData());
    } else {
        libvlc_video_set_aspect_ratio(player_, nullptr);
    }
}

}  // namespace platform
