#pragma once

#include "platform/flash_player.h"
#include "platform/movie_protocol.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>

class QWebEngineView;
class QWebChannel;

namespace platform {

// The Flash player on the Ruffle emulator's web build inside Qt WebEngine. Each movie
// is started through a small host movie that the program writes for it (see
// swf::HostMovie); the page reports the running movie's frames and commands back over a
// web channel. Frame numbers are what the page last reported for the current movie, and
// the end of a movie is latched, so that a poll never misses the last frame.
//
// The engine keeps a little memory of every movie it has run. After `recycleAfterLoads`
// movies the page is loaded afresh before the next movie, which frees all of it; so is it
// after a movie that showed no frame in time, in case the engine itself is stuck.
class RuffleFlashPlayer : public QObject, public ShockwaveFlash {
  public:
    struct Options {
        QString engineFolder;   // holds ruffle.js and player.html
        QString programFolder;  // where relative movie names resolve
        // The drive folders whose files movies may read (besides the program's own).
        QStringList contentFolders = {QStringLiteral("c:\\fileftp")};
        // Told of every address the page asks for, and whether it may have it.
        std::function<void(const QUrl& url, bool allowed)> requestSeen;
        std::function<std::optional<QString>(const QString&)> hostPath;
        // A movie that shows no frame this long after the page is ready counts as ended,
        // unless the engine is still visibly at work on it; then it has up to
        // loadTimeoutMaxMs.
        int loadTimeoutMs = 10000;
        int loadTimeoutMaxMs = 30000;
        // A page not ready by then is loaded again, and the movie waiting for it ends.
        int pageTimeoutMs = 60000;
        int recycleAfterLoads = 50;
        // The variables whose last value a fresh page's movie is told again.
        QStringList rememberedVariables = movie::kVariables;
        // The page answers a heartbeat every heartbeatMs. One that has not answered for
        // unresponsiveMs, or whose shown movie has reported no frame for frameStallMs
        // (its frame watcher reports every frame, also of a movie that stopped itself),
        // is stuck: its process is ended and the page loaded afresh with the movie.
        int heartbeatMs = 5000;
        int unresponsiveMs = 20000;
        int frameStallMs = 20000;
        // How the engine draws: "auto" is WebGL on a graphics card and the canvas where
        // GL would be drawn in software; "webgl" or "canvas" asks for one.
        QString renderer = QStringLiteral("auto");
    };
    explicit RuffleFlashPlayer(Options options);
    ~RuffleFlashPlayer() override;

    QWidget* Widget() override;
    void SetMovie(const QString& path) override;
    void SetMovieFrom(const QString& path, const QString& baseFolder) override;
    QString Movie() const override { return movie_; }
    void Rewind() override;
    void Play() override;
    void Stop() override;
    void SetVariable(const QString& name, const QString& value) override;
    int CurrentFrame() override;
    int TotalFrames() override;
    void SetVisible(bool visible) override;

    EngineFigures Figures() const override {
        return {renderer_, pageLoads_, moviesFailed_, recoveries_};
    }

    // Called by the page. `movie` numbers the SetMovie that a report belongs to, so that
    // the late report of a movie already replaced is dropped; kAnyMovie stands for the
    // current one.
    static constexpr int kAnyMovie = -1;
    void OnPageReady(const QString& renderer, const QString& graphics);
    // A movie has been given and has neither shown a frame nor failed yet.
    bool AwaitingFirstFrame() const { return !movie_.isEmpty() && total_ == 0 && !failed_; }
    void OnFrame(int movie, const QString& report);
    void OnFsCommand(const QString& command, const QString& args);
    void OnFailed(int movie, const QString& reason);

  private:
    friend struct RuffleFlashPlayerPeer;  // what the tests look at inside
    void LoadPage();
    void Beat();
    // Ends the stuck page's process; the page and its movie then start afresh.
    void Recover(const QString& reason);
    void StartAfresh(const QString& reason);
    void StartFrameBound();
    void CheckFirstFrame();
    void FirstFrameMissed(const QString& pageState);
    // Runs a script on the page, or keeps it until the page is ready under `key`: a later
    // script with the same key takes the place of the earlier one.
    // On a ready page a variable told again within a frame's time waits for that time,
    // and only its latest value is sent; anything else sends what waits first.
    void Run(const QString& script, const QString& key);
    void SendHeld();
    void ShowIfWanted();
    void RunHidden();  // the page runs as if shown while the player is still hidden
    // Loads `path`, its files found in the host folder `base` (empty: beside it).
    void Load(const QString& path, const QString& base);
    // Raises `event` through the event loop, unless the movie has been replaced by then.
    void RaiseForMovie(std::function<void()> event);
    // The file URL of a drive or program path; empty when it has none.
    QString HostPathOf(const QString& path) const;

    Options options_;
    QWebEngineView* view_;
    QWebChannel* channel_;
    QObject* bridge_;
    QString movie_;
    QString base_;  // the folder the movie's files are found in; empty: the movie's own
    int movieId_ = 0;
    int loadsOnPage_ = 0;
    int pageLoads_ = 0;
    int moviesFailed_ = 0;
    int recoveries_ = 0;
    QTimer heartbeat_;
    bool beatAsked_ = false;    // the page has not yet answered the last heartbeat
    QElapsedTimer lastAnswer_;  // of the page to a heartbeat, or its load
    QElapsedTimer lastFrame_;   // the running movie's last frame report
    QString killedFor_;         // why the page's process was ended, until it is gone
    QString renderer_;          // how the page draws, as it last said
    QString graphics_;          // and the GL it found
    QList<std::pair<QString, QString>> pending_;  // (key, script) waiting for the page
    QList<std::pair<QString, QString>> held_;     // (key, script): variables told within a frame
    QElapsedTimer variableSent_;                  // the last variable sent to the page
    QTimer heldTimer_;
    QMap<QString, QString> lastValues_;  // what the movie was last told, for a new engine
    bool pageReady_ = false;
    bool wantVisible_ = true;
    int current_ = 0;  // 1-based, as the movie counts
    int total_ = 0;
    bool ended_ = false;
    bool failed_ = false;
    QElapsedTimer sinceMovie_;
    QTimer loadTimeout_;
    QElapsedTimer awaitingSince_;  // of the movie's first frame, from the page being ready
    int lastTicks_ = 0;            // the engine's animation frames at the last check
    bool stateAsked_ = false;      // the page has not yet answered the last check
    QTimer pageTimeout_;
    QTimer showTimeout_;
};

}  // namespace platform
