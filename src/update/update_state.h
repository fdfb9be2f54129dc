#pragma once

#include "platform/file_system.h"
#include "platform/inet.h"
#include "update/changed_only_writer.h"

#include <QMap>

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// The window's state for the update cycle and its download driver. UpdateContent and the
// routines it calls write it; who else reads a field is said at the field.
struct UpdateState {
    // True from the start of UpdateContent to its end; at most one cycle runs. Read by
    // the "update" command, the update button and the memory ceiling's quiet moment.
    bool Updating = false;
    // The site's address for this cycle: Lokatie's text when the cycle began.
    QString SiteLocation;
    // The name being fetched, for the status line.
    QString CurrentFile;
    // Photos wait in c:\fileftp\BUFFER: set when the listing's files are fetched there,
    // cleared once MoveBufferedFiles has moved them (next cycle, or the start-up's end).
    bool BufferPending = false;
    // The listing named a new main movie: after the move the main movie is loaded anew.
    bool MainMovieChanged = false;
    // The download movie stands in for the main movie (the cycle at start-up); the main
    // movie comes back when the cycle ends.
    bool DownloadScreenShown = false;
    // Progress of the cycle: the listed sizes of the files to fetch, and the bytes
    // fetched so far in whole pieces of 256. "Downloading: N %" is their ratio.
    qint64 ExpectedBytes = 0;
    qint64 DownloadedBytes = 0;
    // True from a fetch's start until EndDownload; DownloadFile waits on it.
    bool DownloadBusy = false;
    // Inet1_StateChanged runs; a state change that arrives meanwhile is ignored.
    bool InStateChanged = false;
    // The file the running fetch replaces when it is complete.
    QString DownloadTarget;
};

// The running fetch, seen only by the download driver.
struct DownloadInProgress {
    // The body's new version of DownloadTarget; none between fetches, and none while the
    // body may still be the file in place (`compare` makes it at the first byte that is not).
    std::unique_ptr<platform::DurableFile> file;
    std::unique_ptr<update::ChangedOnlyWriter> compare;
    QString address;                  // of the fetch under way
    platform::Inet::Conditions sent;  // what it asked
    bool notModified = false;         // the site answered that the file in place is its own
    qint64 resumedFrom = 0;           // the bytes of the file that were there before it
    // What the site said of each file fetched into the content folder itself, by address
    // (without its query), and the file it said it of as it was then (its size and time):
    // a file replaced since by a push, an import or a listed fetch is asked for whole.
    // Kept on the drive beside the content folder.
    struct Known {
        platform::Inet::Validators validators;
        QString file;
    };
    QMap<QString, Known> validators;
    bool validatorsLoaded = false;
    bool validatorsChanged = false;
    // A large file whose transfer broke: its part so far, for the next fetch of the same
    // address to ask for the rest.
    struct Part {
        QString address;
        std::unique_ptr<platform::DurableFile> file;
        qint64 size = 0;
        platform::Inet::Validators validators;
    };
    std::optional<Part> part;
    qint64 size = 0;           // body bytes written so far
    qint64 shownPercent = -1;  // the progress text last sent, so that each is sent once
    // How the last fetch ended: done, or why not.
    platform::Result<> ended = platform::Fail(QStringLiteral("not fetched"));
    // Fetched files whose commit has not reported yet, and the names of those whose commit
    // failed or whose content was refused (listed ones are fetched again at the next cycle).
    int commitsPending = 0;
    QStringList commitFailed;
    QStringList listedFailed;  // the listed files this cycle failed to put in place
    // The "Status" text the main movie was last given; a text is sent only when it
    // changes. Reset when the main movie is replaced, so that the new one learns it.
    std::optional<QString> lastStatusVariable;
};
