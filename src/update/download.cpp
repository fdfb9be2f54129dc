// The download driver: one address into one file, and the move out of the buffer folder.
#include "module1/content_names.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "window/form1.h"

#include <cmath>

namespace {

constexpr qint64 kChunk = 256;

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
    QString error;
    // The body is collected beside its target and put in place only when it is complete.
    downloadFile_ = files.CreateFile(platform::TemporaryBeside(DownloadTarget), &error);
    if (!downloadFile_) {
        qCWarning(lcUpdate).noquote() << "cannot fetch" << localName << ":" << error;
        return false;
    }
    downloadSize_ = 0;
    shownPercent_ = -1;
    downloadOk_ = false;
    downloadError_.clear();
    qCDebug(lcUpdate).noquote() << "GET" << address;
    DownloadBusy = true;
    Inet1.SetBodyWriter(downloadFile_.get());  // the body streams into it as it arrives
    Inet1.Execute(address, QStringLiteral("GET"));
    // The transfer reports an end or a failure within its time-out; a close ends the wait.
    platform::WaitUntil([this] { return !DownloadBusy; }, [this] { return closing_; }, -1);
    if (DownloadBusy) {
        Inet1.Cancel();
        EndDownload(false, QStringLiteral("the window is closing"));
    }
    if (!downloadOk_) {
        qCWarning(lcUpdate).noquote()
            << "fetch of" << address << "failed, previous file kept:" << downloadError_;
    }
    return downloadOk_;
}

void Form1::Inet1_StateChanged(int State) {
    if (InStateChanged || !DownloadBusy) {
        return;
    }
    InStateChanged = true;
    if (State == platform::kInetReceivingResponse) {
        CountReceivedPieces();
    } else if (State == platform::kInetError) {
        // A write that failed is told as such; the transfer only knows it stopped.
        const QString written = downloadFile_ ? downloadFile_->ErrorText() : QString();
        EndDownload(false, written == platform::kDiskFull
                               ? platform::WriteFailure(
                                     DownloadTarget, written,
                                     std::max(Inet1.AnnouncedLength(), Inet1.BodyBytes()))
                               : Inet1.ErrorText());
    } else if (State == platform::kInetResponseReceived) {
        CountReceivedPieces();
        const int code = Inet1.ResponseCode();
        const qint64 announced = Inet1.AnnouncedLength();
        QString failure;
        if (code < 200 || code > 299) {
            failure = QStringLiteral("HTTP status %1").arg(code);
        } else if (announced >= 0 && downloadSize_ != announced) {
            failure =
                QStringLiteral("body of %1 bytes, %2 announced").arg(downloadSize_).arg(announced);
        }
        EndDownload(failure.isEmpty(), failure);
    }
    InStateChanged = false;
}

// The progress text counts the body in pieces of 256 bytes, each full piece as it is
// complete; the last, shorter piece counts for nothing.
void Form1::CountReceivedPieces() {
    const qint64 received = Inet1.BodyBytes();
    for (qint64 piece = downloadSize_ / kChunk; piece < received / kChunk; ++piece) {
        DownloadedBytes += kChunk;
        const double percent = std::floor(static_cast<double>(DownloadedBytes) /
                                          (static_cast<double>(ExpectedBytes) + 0.1) * 100.0);
        const qint64 shown = static_cast<qint64>(std::min(percent, 100.0));
        if (shown != shownPercent_) {  // a text only when it changes: a film has millions
            shownPercent_ = shown;
            SetStatusVariable(QStringLiteral("Downloading: ") + QString::number(shown) +
                              QStringLiteral(" %"));
        }
    }
    downloadSize_ = received;
}

void Form1::EndDownload(bool complete, const QString& failure) {
    auto& files = *platform_.files;
    QString error = failure;
    Inet1.SetBodyWriter(nullptr);
    if (downloadFile_) {
        if (!downloadFile_->Close() && complete) {
            complete = false;
            error =
                platform::WriteFailure(DownloadTarget, downloadFile_->ErrorText(), downloadSize_);
        }
        downloadFile_.reset();
    }
    if (complete &&
        !files.ReplaceFile(platform::TemporaryBeside(DownloadTarget), DownloadTarget, &error)) {
        complete = false;
        error = QStringLiteral("cannot replace ") + DownloadTarget + QStringLiteral(": ") + error;
    }
    if (!complete) {
        files.DeleteFile(platform::TemporaryBeside(DownloadTarget));
    }
    if (error.startsWith(platform::kDiskFull)) {
        SetStatus(error);  // the operator must make room: say so where they look
    }
    downloadOk_ = complete;
    downloadError_ = error;
    DownloadBusy = false;
    platform::WakeWaiters();
}

qint64 Form1::DownloadBufferUBound() const {
    return downloadFile_ ? downloadSize_ - 1 : -1;
}

void Form1::SetStatusVariable(const QString& text) {
    if (lastStatusVariable_ == text) {
        return;
    }
    lastStatusVariable_ = text;
    ShockwaveFlash1.SetVariable(QStringLiteral("Status"), text);
}

void Form1::MoveBufferedFiles() {
    auto& files = *platform_.files;
    const QString buffer = kContentFolder + QStringLiteral("\\BUFFER\\");
    const QString photos = kContentFolder + QStringLiteral("\\fotos\\");
    for (const QString& name : files.ListPlainFiles(buffer)) {
        QString error;
        if (!files.ReplaceFile(buffer + name, photos + name, &error)) {
            qCWarning(lcUpdate).noquote()
                << "cannot move" << name << "to the photo folder:" << error;
        }
    }
}
