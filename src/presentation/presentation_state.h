#pragma once

#include <QElapsedTimer>
#include <QString>

// The window's state for the display: the radio, and which command holds the screen.
struct PresentationState {
    // The radio is meant to play: set by StartRadio, cleared by StopRadio and when the
    // stream ends; a film or sound file plays when it is false and the player has a URL.
    bool RadioPlaying = false;
};

// Seen only by the presentation routines.
struct PresentationInProgress {
    // Stops of the radio stream since it last played (or was last stopped): an outage is
    // one as-run item, however often it is tried again.
    int radioDrops = 0;
    int radioRetries = 0;      // starts since the outage began
    QString radioReason;       // why the stream last stopped
    QString radioSource;       // the stream the radio played last, as shown on the status line
    quint64 commandsSeen = 0;  // the movie's commands so far
    // The inserted movie's frame at the last poll, and since when it has stood there.
    int insertFrame = -1;
    QElapsedTimer insertFrameSince;
    quint64 photoBeingRead = 0;  // commandsSeen of the "foto" being read; 0 when none is
};
