#include "platform/vlc/vlc_media_probe.h"

#include <QElapsedTimer>
#include <QFile>

#include <vlc/vlc.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>

namespace platform {

namespace {

// An event that a thread of libVLC's raises and the probe's thread waits for.
struct Awaited {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    void Wait(int ms) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done; });
    }
};

void OnEvent(const libvlc_event_t*, void* data) {
    auto* awaited = static_cast<Awaited*>(data);
    std::lock_guard lock(awaited->mutex);
    awaited->done = true;
    awaited->changed.notify_all();
}

// The audio and video streams the parser listed.
int ParsedStreams(libvlc_media_t* media) {
    int streams = 0;
    libvlc_media_track_t** tracks = nullptr;
    const unsigned count = libvlc_media_tracks_get(media, &tracks);
    for (unsigned i = 0; i < count; ++i) {
        if (tracks[i]->i_type == libvlc_track_audio || tracks[i]->i_type == libvlc_track_video) {
            ++streams;
        }
    }
    if (tracks) {
        libvlc_media_tracks_release(tracks, count);
    }
    return streams;
}

// Streams that show only once the file is read (an MPEG program stream lists none before):
// the file is played into outputs that show and sound nothing, until its first stream
// comes, it ends or fails, or the time is up.
int PlayedStreams(libvlc_media_t* media, int timeoutMs) {
    libvlc_media_player_t* player = libvlc_media_player_new_from_media(media);
    if (!player) {
        return 0;
    }
    Awaited awaited;
    libvlc_event_manager_t* events = libvlc_media_player_event_manager(player);
    const std::array<libvlc_event_e, 3> kinds = {libvlc_MediaPlayerESAdded,
                                                 libvlc_MediaPlayerEndReached,
                                                 libvlc_MediaPlayerEncounteredError};
    for (libvlc_event_e kind : kinds) {
        libvlc_event_attach(events, kind, OnEvent, &awaited);
    }
    if (libvlc_media_player_play(player) == 0) {
        awaited.Wait(timeoutMs);
    }
    for (libvlc_event_e kind : kinds) {
        libvlc_event_detach(events, kind, OnEvent, &awaited);
    }
    const int streams = std::max(0, libvlc_video_get_track_count(player)) +
                        std::max(0, libvlc_audio_get_track_count(player));
    libvlc_media_player_stop(player);
    libvlc_media_player_release(player);
    return streams;
}

}  // namespace

VlcMediaProbe::~VlcMediaProbe() {
    if (instance_) {
        libvlc_release(instance_);
    }
}

Result<int> VlcMediaProbe::Streams(const QString& path, int timeoutMs) {
    {
        std::lock_guard lock(mutex_);
        if (!instance_) {
            const std::array<const char*, 6> args = {
                "--quiet",       "--no-stats",    "--no-video-title-show",
                "--vout=vdummy", "--aout=adummy", "--no-lua"};
            instance_ = libvlc_new(static_cast<int>(args.size()), args.data());
        }
        if (!instance_) {
            return Fail(QStringLiteral("the media engine did not start"));
        }
    }
    libvlc_media_t* media = libvlc_media_new_path(instance_, QFile::encodeName(path).constData());
    if (!media) {
        return Fail(QStringLiteral("the media engine cannot open it"));
    }
    QElapsedTimer clock;
    clock.start();
    Awaited parsed;
    libvlc_event_manager_t* events = libvlc_media_event_manager(media);
    libvlc_event_attach(events, libvlc_MediaParsedChanged, OnEvent, &parsed);
    if (libvlc_media_parse_with_options(media, libvlc_media_parse_local, timeoutMs) == 0) {
        // The parser ends on its own at the time-out; a little more is left for its report.
        parsed.Wait(timeoutMs + 2000);
    }
    const libvlc_media_parsed_status_t status = libvlc_media_get_parsed_status(media);
    if (status != libvlc_media_parsed_status_done) {
        libvlc_media_parse_stop(media);
    }
    libvlc_event_detach(events, libvlc_MediaParsedChanged, OnEvent, &parsed);
    int streams = ParsedStreams(media);
    const int left = timeoutMs - static_cast<int>(clock.elapsed());
    if (streams == 0 && status == libvlc_media_parsed_status_done && left > 0) {
        streams = PlayedStreams(media, left);
    }
    libvlc_media_release(media);
    if (streams == 0 && clock.elapsed() >= timeoutMs) {
        return Fail(
            QStringLiteral("the media engine found none within %1 s").arg(timeoutMs / 1000));
    }
    return streams;
}

}  // namespace platform
