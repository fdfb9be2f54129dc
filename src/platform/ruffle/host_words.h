#pragma once

#include <QString>

// The words the host movie (movies.cpp), the engine's page (player.html) and the player
// (ruffle_flash_player.cpp) share. The page learns them from PageScript(), which the
// player runs before the page's own script.
namespace host_words {

// The operations the host movie offers the page through ExternalInterface.
inline constexpr char kSet[] = "dvSet";  // (name, value): sets a variable of the movie
inline constexpr char kPlay[] = "dvPlay";
inline constexpr char kStop[] = "dvStop";
inline constexpr char kRewind[] = "dvRewind";
// Puts the frame watcher into the real movie; the real movie's frame count, 0 while it
// loads, -1 while the host still runs.
inline constexpr char kArm[] = "dvArm";
// The host's parameter: the real movie's address.
inline constexpr char kUrl[] = "dvUrl";
// The frame reports, "current,total": the ActionScript 1 and 2 watcher's command, and the
// ActionScript 3 host's call of the page.
inline constexpr char kFrameCommand[] = "dv:frame";
inline constexpr char kFrameCall[] = "dvFrame";

// The script that gives the page these words, as `dvWords`.
inline QString PageScript() {
    return QStringLiteral(
               "const dvWords = {set: \"%1\", play: \"%2\", stop: \"%3\", rewind: \"%4\", "
               "arm: \"%5\", url: \"%6\", frameCommand: \"%7\", frameCall: \"%8\"};")
        .arg(QLatin1String(kSet), QLatin1String(kPlay), QLatin1String(kStop),
             QLatin1String(kRewind), QLatin1String(kArm), QLatin1String(kUrl),
             QLatin1String(kFrameCommand), QLatin1String(kFrameCall));
}

}  // namespace host_words
