#pragma once

#include "platform/platform.h"
#include "status/on_air_ledger.h"
#include "status/status_report.h"
#include "window/vb_timer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QWidget>

#include <functional>

// The display's read-only status server and what it reports that no routine keeps: the
// counts since the start, the last update cycle, the event loop's lateness, and the
// figures it measures itself (the content folder, the memory, the picture).
class StatusService : public QObject {
  public:
    using CycleResult = status_report::CycleResult;
    using Saved = status_report::Saved;

    // What the window tells its status when it is asked.
    struct WindowFigures {
        status_report::Snapshot::Radio radio;  // all but retriesTotal
        bool updating = false;
        QString powerOffTime;
        bool powerOffRequested = false;
        QString statusLine;
        QStringList selfCheck;
        QStringList mainMovieFaults, mainMovieWarnings;  // what plays in its stead, and why
    };

    // The main movie is `mainMovie` in `contentFolder` (drive paths).
    StatusService(platform::Platform& platform, QWidget& window, const OnAirLedger& ledger,
                  const QString& contentFolder, const QString& mainMovie,
                  std::function<WindowFigures()> windowFigures);

    // Starts the event loop's probe and, when the platform has one, the server.
    void Start();
    void Stop();

    // ---- What the routines report ----
    void CycleStarted();
    void CycleListing(const QByteArray& content);
    void CycleNoListing();
    void CycleFetched(qint64 bytes);
    // Bytes the cycle did not fetch or write again, and why.
    void CycleSaved(Saved how, qint64 bytes);
    void CycleFilesFailed(int count);
    // A complete file that was not what its name says, counted by reason; a fetched one is
    // also listed with the cycle.
    void ContentRefused(const QString& name, const content::Refused& refused, bool fetched);
    // The cycle's result: how it ended unless the window closed under it.
    void CycleEnded(bool closing);
    void PushRefused() { ++push_.refused; }
    void PushPeer(const QString& peer) { push_.lastPeer = peer; }
    void PushReceived(const QString& path);
    void RadioRetried() { ++radioRetries_; }

    // What the display is, as of now; the content figures as last counted.
    status_report::Snapshot Snapshot();
    // Answers a request to the status server.
    void Answer(const platform::HttpRequest& request, platform::StatusServer::Reply reply);

  private:
    void AnswerAsRun(const QString& name, platform::StatusServer::Reply reply);
    void AnswerScreenshot(bool png, int width, platform::StatusServer::Reply reply);
    // Counts the content folder on a worker unless it was counted a little while ago, then
    // calls `then`; a count under way is not waited for.
    void WithContentFigures(std::function<void()> then);
    double MemoryPssMiB();  // read every few seconds at most; -1 when not measured

    platform::Platform& platform_;
    QWidget& window_;
    const OnAirLedger& ledger_;
    const QString contentFolder_;
    const QString mainMoviePath_;
    const std::function<WindowFigures()> windowFigures_;

    QDateTime started_;
    status_report::Cycle cycle_;
    std::array<quint64, status_report::kCycleResults.size()> cyclesByResult_{};
    quint64 bytesFetched_ = 0;
    std::array<quint64, status_report::kSavedBy.size()> bytesSaved_{};
    std::array<quint64, content::kRefusals.size()> refusals_{};
    status_report::Snapshot::Push push_;
    quint64 radioRetries_ = 0;

    VbTimer loopProbe_;  // measures how late the event loop runs
    QElapsedTimer loopClock_;
    qint64 lastTickNs_ = 0;
    status_report::Lateness lateness_;

    status_report::Content content_;
    bool scanning_ = false;
    QElapsedTimer memoryMeasured_;
    double memoryMiB_ = -1;
    // The latest screenshot, shared by all who ask within a second.
    QImage shot_;
    QDateTime shotTaken_;
};
