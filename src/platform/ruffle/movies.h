#pragma once

#include "swf/swf.h"

// The movie the Flash engine is given in place of each real movie.
namespace swf {

// The host movie: it carries the real movie's stage, frame rate and background, offers
// the player's operations to the page (host_words) and replaces itself at level 0 with
// the movie its parameter host_words::kUrl names. Its "arm" operation puts a watcher into
// the real movie that reports the current and total frame numbers at every frame, so
// that no frame is missed.
QByteArray HostMovie(const Header& real);

}  // namespace swf
