#pragma once

#include "platform/ruffle/swf.h"

// The movies that the program makes itself.
namespace swf {

// The host movie: it carries the real movie's stage, frame rate and background, offers
// the player's operations to the page ("dvSet", "dvPlay", "dvStop", "dvRewind",
// "dvArm") and replaces itself at level 0 with the movie named by its variable dvUrl.
// "dvArm" puts a watcher into the real movie that reports "dv:frame" with the current
// and total frame numbers at every frame, so that no frame is missed.
QByteArray HostMovie(const Header& real);

// The connecting screen shown while the start-up cycle runs: a looping movie whose text
// field shows the variable "Status".
QByteArray DownloadMovie();

}  // namespace swf
