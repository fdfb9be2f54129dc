#pragma once

#include "platform/visual_control.h"

#include <QRegion>
#include <QString>

#include <functional>

namespace platform {

// Play states reported through PlayStateChange; the program acts on kStopped only.
enum PlayState : int {
    kUndefined = 0,
    kStopped = 1,
    kPaused = 2,
    kPlaying = 3,
    kBuffering = 6,
    kTransitioning = 9,
    kReady = 10,
};

// The media player of the radio, films and sound files. Design settings: no controls
// shown, playback starts whenever a URL is given, volume 50, stretch to fit, no dialogs.
class WindowsMediaPlayer : public VisualControl {
  public:
    // An address or a drive path starts playing it; "" lets go of the current media.
    virtual void SetURL(const QString& url) = 0;
    virtual QString URL() const = 0;
    virtual void Play() = 0;  // controls.play
    virtual void SetStretchToFit(bool stretch) = 0;
    // False disables the player's own user interaction only; playback is not affected.
    virtual void SetEnabled(bool enabled) = 0;

    // The part of the window (in its pixels) where other controls lie in front of the
    // player; a player that draws video into a window of its own keeps clear of it.
    virtual void KeepClear(const QRegion& windowRegion) { (void)windowRegion; }

    // Raised, through the event loop, on every change of play state.
    std::function<void(int newState)> PlayStateChange;
    // Raised, through the event loop, just before the stop of a media that did not play or
    // stopped by itself, with why.
    std::function<void(const QString& reason)> MediaError;
    // Raised, through the event loop, when a network address starts playing: the stream
    // that plays, which for a playlist is the item and alternative chosen.
    std::function<void(const QString& address)> NowPlaying;
};

}  // namespace platform
