#pragma once

#include "content/content_check.h"
#include "platform/platform.h"
#include "presentation/presentation_state.h"
#include "presentation/presentation_text.h"
#include "pushserver/push_state.h"
#include "status/on_air_ledger.h"
#include "status/status_service.h"
#include "update/update_state.h"
#include "window/last_good_movie.h"
#include "window/photo_area.h"
#include "window/self_check.h"
#include "window/vb_timer.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

// The program's only window. It owns every control, every routine and all window state;
// the routines of each subsystem are written in that subsystem's folder, and the state
// they share is grouped by subsystem in the bases below (each field says who writes and
// reads it). What the program keeps of itself (what is on air, its self-check, its status)
// are objects it owns, each with an API of its own.
class Form1 : public QWidget,
              public UpdateState,
              public PushReceiveState,
              public PresentationState {
    // Declared first: the controls below refer to the components it holds.
    platform::Platform platform_;

  public:
    explicit Form1(platform::Platform platform, QWidget* parent = nullptr);
    ~Form1() override;

    // The content folder; no setting changes it.
    static inline const QString kContentFolder = QStringLiteral("c:\\fileftp");
    static inline const QString kMainMovie = QStringLiteral("dravonelle.swf");

    // ---- Controls, in the order in which the window holds them ----
    QPushButton* CmdShowinstelling;
    QPushButton* CloseButton;
    QGroupBox* extra;
    QLineEdit* Lokatie;
    std::array<QLabel*, 4> lblinstelling{};  // elements 0, 1 and 3 exist
    QLineEdit* TxttijdUit;
    QCheckBox* ChkNoUpdate;
    QLabel* lblInfo;
    QPushButton* cmdEdit;
    QPushButton* FileCopyButton;
    QPushButton* CmdCompUit;
    QPushButton* cmdupdate;
    QPushButton* FotoOverslaan;
    platform::ShockwaveFlash& ShockwaveFlash2;
    platform::ShockwaveFlash& ShockwaveFlash1;
    platform::WindowsMediaPlayer& MediaPlayer1;
    PhotoArea Image1;
    // Controls without a visible surface.
    platform::WskServer& WskServer;
    platform::Inet& Inet1;
    platform::FileDialog& CommonDialog1;
    VbTimer CheckCompUit{30000, true};   // compares the clock with the power-off time
    VbTimer RadioaanTimer{2000, false};  // starts the radio again after its stream stopped
    VbTimer flashtimer{10, false};       // watches the inserted movie for its last frame
    VbTimer Timer1{0, false};            // ends a photo when its time is up
    // Compares the program's memory with its ceiling: once a minute, and once a second
    // while it waits for a quiet moment to end.
    VbTimer MemoryCeilingTimer{60000, true};

    // ---- Window (start-up and close) ----
    // Fails when the push server cannot listen.
    platform::Result<> Form_Load();
    void Form_Activate();
    // Removes the temporaries that a crash or a power cut left in the content folders.
    void SweepTemporaries();
    void Form_Resize();
    void Form_QueryUnload();
    void Form_Unload();
    void CloseButton_Click();
    // ---- Settings ----
    void CmdShowinstelling_Click();
    void Lokatie_LostFocus();
    void TxttijdUit_Change();
    void ChkNoUpdate_Click();
    void cmdEdit_Click();
    // The check box's state as stored: 0 unticked, 1 ticked, 2 greyed.
    int NoUpdateValue() const;
    void SetNoUpdateValue(int value);
    // ---- Power-off ----
    void CheckCompUit_Timer();
    void CmdCompUit_Click();
    // ---- Memory ceiling ----
    // The exit status of a program that ended to be started afresh with its memory new.
    static constexpr int kRestartStatus = 75;
    void MemoryCeilingTimer_Timer();
    // Closes the window and ends the event loop with kRestartStatus; `why` starts the log
    // line.
    void EndForRestart(const QString& statusLine, const QString& why);
    // Nothing that an end would cut short: no subsystem is busy. Each one's Busy() names
    // every long activity of its own.
    bool QuietMoment() const;
    bool UpdateBusy() const;        // a cycle
    bool PushBusy() const;          // a push or an import
    bool PresentationBusy() const;  // a film, an inserted movie or a photo
    // ---- Presentation ----
    void ShockwaveFlash1_FSCommand(const QString& command, const QString& args);
    // Whether a photo that a "foto" command named is still being read from its file.
    bool PhotoBeingRead() const { return presentation_.photoBeingRead != 0; }
    void flashtimer_Timer();
    void Timer1_Timer();
    void FotoOverslaan_Click();
    void StartRadio();
    void StopRadio();
    void MediaPlayer1_PlayStateChange(int NewState);
    // The stream the radio's address led to has started playing.
    void MediaPlayer1_NowPlaying(const QString& address);
    void MediaPlayer1_MediaError(const QString& reason);
    void RadioaanTimer_Timer();
    // ---- Content update ----
    void UpdateContent();
    void ShowDownloadScreen();
    void cmdupdate_Click();
    // Returns whether the file was fetched whole; the old file stays when it was not, and
    // the log says why.
    bool DownloadFile(const QString& address, const QString& localName);
    void Inet1_StateChanged(const platform::Result<int>& State);
    qint64 DownloadBufferUBound() const;
    void CountReceivedPieces();
    void MoveBufferedFiles();
    // The steps of UpdateContent; each is false (nullopt) when the cycle ends early.
    // The parked files go in place once the disk has them, and with `restart` the main
    // movie starts again from its first frame (`afresh`: through the download movie, so
    // that the engine reads it anew).
    bool MoveBufferAndRestart(bool restart, bool afresh);
    // flash.txt, the main movie, then the listing, with the one it replaced.
    struct Listings {
        QStringList previous;
        QStringList current;
    };
    std::optional<Listings> FetchListing();
    bool FetchListedFiles(const Listings& listings);  // into the buffer
    bool FetchWeather();
    // ---- File push server and import ----
    void WskServer_ConnectionRequest(int Index, long requestID);
    void WskServer_DataArrival(int Index, qint64 bytesTotal);
    void WskServer_Close(int Index);
    void WskServer_Error(int Index, int Number, const QString& Description);
    void FileCopyButton_Click();
    void ImportNext();  // copies the next file of the import, or ends it
    // Whether files chosen for an import are still being copied in.
    bool Importing() const { return !push_.importQueue.isEmpty(); }

    // ---- Helpers shared by the subsystems ----
    // Replaces the status line's caption, and logs it.
    void SetStatus(const QString& text);
    // Width and height of the window in twips.
    double WindowWidth() const;
    double WindowHeight() const;
    // "c:\fileftp\" + name.
    static QString ContentPath(const QString& name);
    // The check of a new version of the content file `name` before it replaces the old one
    // (none when the platform leaves content unchecked); what it refused is kept in
    // `refused`.
    platform::ContentCheck ContentCheckFor(
        const QString& name, std::shared_ptr<std::optional<content::Refused>> refused);
    // True once a close request has been accepted: waits end, cycles stop.
    bool Closing() const { return closing_; }
    platform::Platform& Platform() { return platform_; }

    // ---- What the program keeps of itself, each with its own small API ----
    OnAirLedger onAir;       // what is on air; the routines report to it
    SelfCheck selfCheck;     // the engine's recoveries and the picture's look
    LastGoodMovie lastGood;  // what plays when the main movie cannot
    StatusService status;    // the status server and what it counts

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    // Tells the media player where the corner buttons and the panel lie in front of it.
    void KeepControlsInFront();
    void ConnectEvents();
    // The content file that a movie command names, or why there is none to play: a name
    // the rules refuse (also logged), or no such file.
    platform::Result<QString> ContentFileFromCommand(const QString& name, const char* command);
    void PlaceFilm(const presentation::TailScan& tail);
    void ShowPhoto(const QString& args);
    void PhotoFailed(const QString& why);
    // Puts up a photo that was read, unless a command after `command` took the screen.
    void PutUpPhoto(const QString& name, const QString& path, std::optional<QImage> picture,
                    const QString& error, quint64 command);
    void EndInsertedMovie(on_air::Outcome outcome = on_air::Outcome::kEnded,
                          const QString& reason = QString());
    // Loads a movie into the main player, or what stands in for it when it cannot be played
    // (the last good main movie, or the connecting screen); the "Status" text is then sent
    // afresh.
    void SetMainMovie(const QString& path);
    // The connecting screen, kept up (not loaded again) when it is up already; the cycle
    // that follows puts the main movie on.
    void ShowConnectingScreen();
    void SetStatusVariable(const QString& text);
    QString DownloadMoviePath() const;
    void EndDownload(const platform::Result<>& ended);
    // Commits a file the cycle wrote, checked with `check`; WaitForCommits waits for it.
    void CommitCounted(platform::DurableFile& file, platform::DurableFile::CommitDone done,
                       platform::ContentCheck check = {});
    // Commits a fetched file; once it is in, what the site said of it is kept under `key`
    // (none: not kept).
    void CommitDownload(std::unique_ptr<platform::DurableFile> file, const QString& target,
                        qint64 size, const QString& key,
                        const platform::Inet::Validators& validators);
    // Whether a transfer that ended so keeps its part of `total` bytes for the next try.
    bool Resumable(const platform::Result<>& ended, qint64 total) const;
    // An address without its query: what the site's validators are kept under.
    static QString AddressKey(const QString& address);
    void LoadValidators();
    // Keeps what the site said of the file at DownloadTarget (or of `file`, as it is now).
    void KeepValidators(const QString& key, const platform::Inet::Validators& validators);
    void KeepValidators(const QString& key, const platform::Inet::Validators& validators,
                        const QString& file);
    void StoreValidators();  // on the drive, when they changed
    // Waits (bounded) until the fetched files are on the disk; false when the window closes.
    bool WaitForCommits();
    void ForgetFailedEntries(const QStringList& failed);
    // Ends the receive under way: its temporary file goes, the previous file stays.
    void DropPushReceive();
    // The steps of WskServer_DataArrival, one for each kind of message.
    void ReceiveDestination(int index, const QByteArray& message);
    void ReceiveData(int index, const QByteArray& message);
    void ReceiveEnd(int index, bool verdictAsked);
    bool Storable(int index);
    platform::Result<std::unique_ptr<platform::DurableFile>> DestinationFile(const QString& name);
    void CommitReceivedFile(std::unique_ptr<platform::DurableFile> file, int index,
                            bool verdictAsked);
    void FailPushConnection(int index, const QString& description);
    void RestartPushIdleTimer();

    bool closing_ = false;            // a close was accepted: waits end, cycles stop
    bool powerOffRequested_ = false;  // the power-off was asked for, by the clock or the operator
    DownloadInProgress download_;
    PushInProgress push_;
    PresentationInProgress presentation_;
    VbTimer pushIdle_;  // closes a push connection that has been silent too long
};
