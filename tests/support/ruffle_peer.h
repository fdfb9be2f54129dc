#pragma once

#include "platform/ruffle/ruffle_flash_player.h"

namespace platform {

// What tests and benchmarks look at inside the Flash player, beyond its Figures().
struct RuffleFlashPlayerPeer {
    explicit RuffleFlashPlayerPeer(const RuffleFlashPlayer& player) : p(player) {}
    // Whether the page has loaded and a movie has shown a frame since the last SetMovie.
    bool PageReady() const { return p.pageReady_; }
    bool ShowingFrames() const { return p.total_ > 0; }
    bool Failed() const { return p.failed_; }
    // The GL the page found ("no WebGL" without one; empty when a renderer was asked for).
    QString Graphics() const { return p.graphics_; }
    // How many scripts wait for the page: the latest movie, the latest value of each
    // variable and the controls given since that movie, whatever was asked meanwhile.
    qsizetype PendingScripts() const { return p.pending_.size(); }
    // How many variables told within the last frame's time wait to be sent.
    qsizetype HeldVariables() const { return p.held_.size(); }

    const RuffleFlashPlayer& p;
};

}  // namespace platform
