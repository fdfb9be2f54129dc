#pragma once

#include "platform/platform.h"
#include "presentation/presentation_text.h"
#include "window/photo_area.h"
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
// the routines of each subsystem are written in that subsystem's folder.
class Form1 : public QWidget {
    // Declared first: the controls below refer to the components it holds.
    platform::Platform platform_;

  public:
    explicit Form1(platform::Platform platform, QWidget* parent = nullptr);
    ~Form1() override;

    // The content folder; no setting changes it.
    static inline const QString kContentFolder = QStringLiteral("c:\\fileftp");
    static inline const QString kMainMovie = QStringLiteral("dravonelle.swf");
    static constexpr int kDialogFlags = 524800;  // explorer style, multiple selection

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
    VbTimer CheckCompUit{30000, true};
    VbTimer RadioaanTimer{2000, false};
    VbTimer flashtimer{10, false};
    VbTimer Timer1{0, false};
    // Compares the program's memory with its ceiling: once a minute, and once a second
    // while it waits for a quiet moment to end.
    VbTimer MemoryCeilingTimer{60000, true};

    // ---- Window-level state ----
    bool RadioPlaying = false;
    QString SiteLocation;
    QString CurrentFile;
    bool BufferPending = false;
    bool MainMovieChanged = false;
    bool DownloadScreenShown = false;
    bool Updating = false;
    qint64 ExpectedBytes = 0;
    bool InStateChanged = false;
    bool DownloadBusy = false;
    qint64 DownloadedBytes = 0;
    QString DownloadTarget;
    QString ReceivePath;

    // ---- Window (start-up and close) ----
    // Returns false when the push server cannot listen; `error` then says why.
    bool Form_Load(QString* error);
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
    // Nothing that an end would cut short: no update, film, inserted movie, photo or push.
    bool QuietMoment() const;
    // 0, or kRestartStatus once the window closed for a fresh start.
    int ExitStatus() const { return exitStatus_; }
    // ---- Presentation ----
    void ShockwaveFlash1_FSCommand(const QString& command, const QString& args);
    // Whether a photo that a "foto" command named is still being read from its file.
    bool PhotoBeingRead() const { return photoBeingRead_ != 0; }
    void flashtimer_Timer();
    void Timer1_Timer();
    void FotoOverslaan_Click();
    void StartRadio();
    void StopRadio();
    void MediaPlayer1_PlayStateChange(int NewState);
    // The stream the radio's address led to has started playing.
    void MediaPlayer1_NowPlaying(const QString& address);
    void RadioaanTimer_Timer();
    // ---- Content update ----
    void UpdateContent();
    void ShowDownloadScreen();
    void cmdupdate_Click();
    // Returns whether the file was fetched whole; the old file stays when it was not.
    bool DownloadFile(const QString& address, const QString& localName);
    void Inet1_StateChanged(int State);
    qint64 DownloadBufferUBound() const;
    void CountReceivedPieces();
    void MoveBufferedFiles();
    // ---- File push server and import ----
    void WskServer_ConnectionRequest(int Index, long requestID);
    void WskServer_DataArrival(int Index, qint64 bytesTotal);
    void WskServer_Close(int Index);
    void WskServer_Error(int Index, int Number, const QString& Description);
    void FileCopyButton_Click();
    void ImportNext();  // copies the next file of the import, or ends it

    // ---- Helpers shared by the subsystems ----
    // Replaces the status line's caption, and logs it.
    void SetStatus(const QString& text);
    // Width and height of the window in twips.
    double WindowWidth() const;
    double WindowHeight() const;
    // "c:\fileftp\" + name.
    static QString ContentPath(const QString& name);
    // True once a close request has been accepted: waits end, cycles stop.
    bool Closing() const { return closing_; }
    platform::Platform& Platform() { return platform_; }

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
    bool ContentFileFromCommand(const QString& name, const char* command, QString* path);
    void PlaceFilm(const presentation::TailScan& tail);
    void ShowPhoto(const QString& args);
    void PhotoFailed(const QString& why);
    // Puts up a photo that was read, unless a command after `command` took the screen.
    void PutUpPhoto(const QString& name, const QString& path, std::optional<QImage> picture,
                    const QString& error, quint64 command);
    void EndInsertedMovie();
    // Loads a movie into the main player; the "Status" text is then sent afresh.
    void SetMainMovie(const QString& path);
    void SetStatusVariable(const QString& text);
    QString DownloadMoviePath() const;
    void EndDownload(bool complete, const QString& failure);
    void ForgetFailedEntries(const QStringList& failed);
    // Ends the receive under way: its temporary file goes, the previous file stays.
    void DropPushReceive();
    void FailPushConnection(int index, const QString& description);
    void RestartPushIdleTimer();

    bool closing_ = false;
    int exitStatus_ = 0;
    int radioDrops_ = 0;   // stops of the radio stream since the radio was last stopped
    QString radioSource_;  // the stream the radio played last, as shown on the status line
    // The running fetch: the body goes to a temporary file until it is complete.
    std::unique_ptr<platform::FileWriter> downloadFile_;
    qint64 downloadSize_ = 0;
    qint64 shownPercent_ = -1;  // of this download's progress text
    bool downloadOk_ = false;
    QString downloadError_;
    std::optional<QString> lastStatusVariable_;
    // The push server's receive file, written beside its target until "Msg_Eof_".
    std::unique_ptr<platform::FileWriter> receiveFile_;
    QString receiveTemp_;
    QString receiveError_;  // why the receive file could not be opened
    qint64 receivedBytes_ = 0;
    quint64 commandsSeen_ = 0;    // the movie's commands so far
    quint64 photoBeingRead_ = 0;  // commandsSeen_ of the "foto" being read; 0 when none is
    QList<std::pair<QString, QString>> importQueue_;  // (source, name) still to copy in
    QString importFailed_;                            // the last name that could not be
    bool receiving_ = false;
    int pushIndex_ = -1;
    VbTimer pushIdle_;
};
