#pragma once

#include "platform/visual_control.h"

#include <QString>

#include <functional>

namespace platform {

// A Flash movie player. Movie paths are drive paths ("c:\fileftp\x.swf"), host paths of
// the program's own folder, or relative names that resolve in the program's folder.
// Design settings: playing and looping, movie stretched to the player's area.
class ShockwaveFlash : public VisualControl {
  public:
    // Loads the movie in place of the current one.
    virtual void SetMovie(const QString& path) = 0;
    // Loads a movie that stands in for another: it runs from `path`, but the files it names
    // are found in `baseFolder` (a drive folder), as they are for the movie it stands in for.
    virtual void SetMovieFrom(const QString& path, const QString& baseFolder) {
        (void)baseFolder;
        SetMovie(path);
    }
    virtual QString Movie() const = 0;
    virtual void Rewind() = 0;  // go to the first frame
    virtual void Play() = 0;
    virtual void Stop() = 0;  // halt where it is
    // The running movie sees the new value at once.
    virtual void SetVariable(const QString& name, const QString& value) = 0;
    virtual int CurrentFrame() = 0;  // counted from 0
    virtual int TotalFrames() = 0;

    // What the engine under the player tells of itself, for the station's status.
    struct EngineFigures {
        QString renderer;  // how it draws; empty when it does not say
        int pageLoads = 0;
        int moviesFailed = 0;
        int recoveries = 0;  // times the engine was found stuck or dead and started afresh
    };
    virtual EngineFigures Figures() const { return {}; }

    // Raised, through the event loop, when the running movie sends a command.
    std::function<void(const QString& command, const QString& args)> FSCommand;
    // Raised, through the event loop, when the movie last loaded shows its first frame, and
    // when it cannot be played (`reason`: not a Flash movie, no frame within its bound, the
    // engine gave up on it). Neither is raised for a movie that has been replaced since.
    std::function<void()> MovieStarted;
    std::function<void(const QString& reason)> MovieFailed;
    // Raised, through the event loop, when the engine under the player was found stuck or
    // dead and has been started afresh with its movie; `reason` says what was wrong.
    std::function<void(const QString& reason)> EngineRecovered;
};

}  // namespace platform
