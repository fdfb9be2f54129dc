// The download driver: one address into one file, and the move out of the buffer folder.
#include "content/content_check.h"
#include "content/content_names.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "platform/movie_protocol.h"
#include "window/form1.h"

#include <cmath>

namespace {

constexpr qint64 kChunk = 256;
// How long the cycle waits for the disk to take the files it fetched before it reads
// one of them: far beyond a busy SD card, short of a hung one.
constexpr int kCommitWaitMs = 120000;

bool GoesToContentFolder(const QString& name) {
    return name == QLatin1String("dravonelle.swf") || name == QLatin1String("file.txt") ||
           name == QLatin1String("flash.txt") || name == QLatin1String("weerbericht.jpg");
}

}  // namespace

bool Form1::DownloadFile(const QString& address, const QString& localName) {
    auto& files = *platform_.files;
    DownloadTarget = GoesToContentFolder(localName)
                         ? ContentPath(localName)
                         : kContentFolder + QStringLiteral("\\BUFFER\\") + localName;
    if (const QString refused = content::RefusalReason(localName, content::kListedName);
        !refused.isEmpty()) {
        qCWarning(lcUpdate).noquote() << "not fetched (" + refused + "):" << localName;
        return false;
    }
    platform::PumpEventsOnce();
    if (closing_) {
        return false;
    }
    // The body is collected beside its target and put in place only when it is complete.
    auto created = files.CreateDurable(DownloadTarget);
    if (!created) {
        qCWarning(lcUpdate).noquote() << "cannot fetch" << localName << ":" << created.reason();
        return false;
    }
    download_.file = std::move(*created);
    download_.size = 0;
    download_.shownPercent = -1;
    download_.ended = platform::Fail(QStringLiteral("under way"));
    qCDebug(lcUpdate).noquote() << "GET" << address;
    DownloadBusy = true;
    Inet1.SetBodyWriter(download_.file.get());  // the body streams into it as it arrives
    Inet1.Execute(address, QStringLiteral("GET"));
    // The transfer reports an end or a failure within its time-out; a close ends the wait.
    platform::WaitUntil([this] { return !DownloadBusy; }, [this] { return closing_; }, -1);
    if (DownloadBusy) {
        Inet1.Cancel();
        EndDownload(platform::Fail(QStringLiteral("the window is closing")));
    }
    if (!download_.ended) {
        qCWarning(lcUpdate).noquote()
            << "fetch of" << address << "failed, previous file kept:" << download_.ended.reason();
    }
    return download_.ended.ok();
}

void Form1::Inet1_StateChanged(const platform::Result<int>& State) {
    if (InStateChanged || !DownloadBusy) {
        return;
    }
    InStateChanged = true;
    if (!State) {
        // A full disk is told with the bytes that were wanted.
        EndDownload(
            State.kind() == platform::FailureKind::kDiskFull
                ? platform::WriteFailure(DownloadTarget, State.failure(),
                                         std::max(Inet1.AnnouncedLength(), Inet1.BodyBytes()))
                : State.failure());
    } else if (*State == platform::kInetReceivingResponse) {
        CountReceivedPieces();
    } else if (*State == platform::kInetResponseReceived) {
        CountReceivedPieces();
        const int code = Inet1.ResponseCode();
        const qint64 announced = Inet1.AnnouncedLength();
        if (code < 200 || code > 299) {
            EndDownload(platform::Fail(QStringLiteral("HTTP status %1").arg(code)));
        } else if (announced >= 0 && download_.size != announced) {
            EndDownload(platform::Fail(QStringLiteral("body of %1 bytes, %2 announced")
                                           .arg(download_.size)
                                           .arg(announced)));
        } else {
            EndDownload({});
        }
    }
    InStateChanged = false;
}

// The progress text counts the body in pieces of 256 bytes, each full piece as it is
// complete; the last, shorter piece counts for nothing.
void Form1::CountReceivedPieces() {
    const qint64 received = Inet1.BodyBytes();
    for (qint64 piece = download_.size / kChunk; piece < received / kChunk; ++piece) {
        DownloadedBytes += kChunk;
        const double percent = std::floor(static_cast<double>(DownloadedBytes) /
                                          (static_cast<double>(ExpectedBytes) + 0.1) * 100.0);
        const qint64 shown = static_cast<qint64>(std::min(percent, 100.0));
        if (shown != download_.shownPercent) {  // a text only when it changes: a film has millions
            download_.shownPercent = shown;
            SetStatusVariable(QStringLiteral("Downloading: ") + QString::number(shown) +
                              QStringLiteral(" %"));
        }
    }
    download_.size = received;
}

void Form1::EndDownload(const platform::Result<>& ended) {
    Inet1.SetBodyWriter(nullptr);
    if (download_.file) {
        if (ended) {
            // The fetch is over; the file replaces the old one once the disk has it, while
            // the cycle goes on to the next fetch.
            CommitDownload(std::move(download_.file), DownloadTarget, download_.size);
        } else {
            download_.file->Discard();
        }
        download_.file.reset();
    }
    if (ended.kind() == platform::FailureKind::kDiskFull) {
        SetStatus(ended.reason());  // the operator must make room: say so where they look
    }
    download_.ended = ended;
    DownloadBusy = false;
    platform::WakeWaiters();
}

void Form1::CommitCounted(platform::DurableFile& file, platform::DurableFile::CommitDone done,
                          platform::ContentCheck check) {
    ++download_.commitsPending;
    file.CommitChecked(std::move(check), [this, done](const platform::Result<>& committed) {
        --download_.commitsPending;
        platform::WakeWaiters();
        done(committed);
    });
}

void Form1::CommitDownload(std::unique_ptr<platform::DurableFile> file, const QString& target,
                           qint64 size) {
    const QString name = target.mid(target.lastIndexOf('\\') + 1);
    auto refused = std::make_shared<std::optional<content::Refused>>();
    const auto done = [this, target, name, size, refused](const platform::Result<>& committed) {
        if (committed) {
            qCDebug(lcUpdate).noquote() << "stored" << target;
            status.CycleFetched(size);
            return;
        }
        if (*refused) {
            // Not what its name says: the previous file stays, and is asked for again.
            const QString told = name + QStringLiteral(": ") + (*refused)->reason;
            qCWarning(lcUpdate).noquote() << "fetched file refused, previous file kept:" << told;
            SetStatus(told);
            status.ContentRefused(name, **refused, true);
            download_.commitFailed << name;
            return;
        }
        const platform::Failure error = platform::WriteFailure(target, committed.failure(), size);
        qCWarning(lcUpdate).noquote()
            << "fetch of" << target << "failed, previous file kept:" << error.reason;
        if (error.kind == platform::FailureKind::kDiskFull) {
            SetStatus(error.reason);
        }
        download_.commitFailed << name;
    };
    CommitCounted(*file, done, ContentCheckFor(name, refused));
}

bool Form1::WaitForCommits() {
    if (download_.commitsPending > 0 &&
        !platform::WaitUntil([this] { return download_.commitsPending == 0; },
                             [this] { return closing_; }, kCommitWaitMs) &&
        !closing_) {
        qCWarning(lcUpdate) << "the disk has not taken" << download_.commitsPending
                            << "fetched files in" << kCommitWaitMs / 1000 << "s; going on";
    }
    return !closing_;
}

qint64 Form1::DownloadBufferUBound() const {
    return download_.file ? download_.size - 1 : -1;
}

void Form1::SetStatusVariable(const QString& text) {
    if (download_.lastStatusVariable == text) {
        return;
    }
    download_.lastStatusVariable = text;
    ShockwaveFlash1.SetVariable(movie::kStatus, text);
}

void Form1::MoveBufferedFiles() {
    auto& files = *platform_.files;
    const QString buffer = kContentFolder + QStringLiteral("\\BUFFER\\");
    const QString photos = kContentFolder + QStringLiteral("\\fotos\\");
    platform::FileSystem::Moves moves;
    for (const QString& name : files.ListPlainFiles(buffer)) {
        moves.append({buffer + name, photos + name});
    }
    if (moves.isEmpty()) {
        return;
    }
    // One batch after the fetched files' commits, with one sync per folder.
    files.MoveFiles(moves, [](const QStringList& failures) {
        for (const QString& failure : failures) {
            qCWarning(lcUpdate).noquote() << "cannot move to the photo folder:" << failure;
        }
    });
}
