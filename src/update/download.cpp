// The download driver: one address into one file, and the move out of the buffer folder.
#include "content/content_check.h"
#include "content/content_names.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "platform/movie_protocol.h"
#include "update/changed_only_writer.h"
#include "window/form1.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace {

constexpr qint64 kChunk = 256;
// How long the cycle waits for the disk to take the files it fetched before it reads
// one of them: far beyond a busy SD card, short of a hung one.
constexpr int kCommitWaitMs = 120000;
// A transfer that breaks keeps its part for the next try from this size on.
constexpr qint64 kResumableBytes = 1 << 20;
// What the site said of the files fetched every cycle, by address.
const QString kValidatorsFile = QStringLiteral("c:\\dravonelle\\validators.txt");

bool GoesToContentFolder(const QString& name) {
    return name == QLatin1String("dravonelle.swf") || name == QLatin1String("file.txt") ||
           name == QLatin1String("flash.txt") || name == QLatin1String("weerbericht.jpg");
}

}  // namespace

bool Form1::DownloadFile(const QString& address, const QString& localName) {
    auto& files = *platform_.files;
    const bool inPlace = GoesToContentFolder(localName);
    DownloadTarget = inPlace ? ContentPath(localName)
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
    LoadValidators();
    download_.compare.reset();
    download_.resumedFrom = 0;
    platform::Inet::Conditions conditions;
    platform::FileWriter* writer = nullptr;
    const std::optional<QString> current =
        inPlace && files.FileExists(DownloadTarget) ? files.HostPath(DownloadTarget) : std::nullopt;
    if (download_.part && download_.part->address == address) {
        // The rest of a transfer that broke, into the part it left.
        download_.file = std::move(download_.part->file);
        download_.resumedFrom = download_.part->size;
        conditions.resumeFrom = download_.part->size;
        conditions.resumeIf = download_.part->validators;
        download_.part.reset();
        writer = download_.file.get();
    } else if (current) {
        // A file fetched every cycle: asked for only if it changed, and written only if
        // what comes is not the file in place.
        download_.compare = std::make_unique<update::ChangedOnlyWriter>(
            *current, [&files, target = DownloadTarget] { return files.CreateDurable(target); });
        if (const auto known = download_.validators.constFind(AddressKey(address));
            known != download_.validators.cend() && known->file == files.Identity(DownloadTarget)) {
            conditions.unlessStill = known->validators;
        }
        writer = download_.compare.get();
    } else {
        // The body is collected beside its target and put in place only when complete.
        auto created = files.CreateDurable(DownloadTarget);
        if (!created) {
            qCWarning(lcUpdate).noquote() << "cannot fetch" << localName << ":" << created.reason();
            return false;
        }
        download_.file = std::move(*created);
        writer = download_.file.get();
    }
    download_.sent = conditions;
    download_.address = address;
    download_.size = 0;
    download_.shownPercent = -1;
    download_.ended = platform::Fail(QStringLiteral("under way"));
    qCDebug(lcUpdate).noquote() << "GET" << address
                                << (conditions.resumeFrom > 0
                                        ? QStringLiteral("from byte %1").arg(conditions.resumeFrom)
                                        : QString());
    DownloadBusy = true;
    Inet1.SetConditions(conditions);
    Inet1.SetBodyWriter(writer);  // the body streams into it as it arrives
    Inet1.Execute(address, QStringLiteral("GET"));
    // The transfer reports an end or a failure within its time-out; a close ends the wait.
    platform::WaitUntil([this] { return !DownloadBusy; }, [this] { return closing_; }, -1);
    if (DownloadBusy) {
        Inet1.Cancel();
        EndDownload(platform::Fail(QStringLiteral("the window is closing")));
    }
    if (download_.ended.kind() == platform::FailureKind::kWholeAgain && !closing_) {
        qCInfo(lcUpdate).noquote()
            << "the site sends" << address << "whole again:" << download_.ended.reason();
        return DownloadFile(address, localName);  // its part is gone: the whole file
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
        CountReceivedPieces();  // what was written before it failed: a part may be kept
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
        if (code == 304 && !download_.sent.unlessStill.Empty()) {
            download_.notModified = true;
            EndDownload({});
        } else if (code < 200 || code > 299) {
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
    const qint64 total = download_.resumedFrom + download_.size;
    const QString key = AddressKey(download_.address);
    const platform::Inet::Validators validators = Inet1.ResponseValidators();
    const bool notModified = std::exchange(download_.notModified, false);
    if (ended && notModified) {
        // Nothing sent, nothing written: the file in place is the site's.
        status.CycleSaved(
            StatusService::Saved::kNotModified,
            QFileInfo(platform_.files->HostPath(DownloadTarget).value_or(QString())).size());
        KeepValidators(key, validators.Empty() ? download_.sent.unlessStill : validators);
    } else if (ended && download_.compare && download_.compare->Unchanged()) {
        qCDebug(lcUpdate).noquote() << "unchanged, not written again:" << DownloadTarget;
        status.CycleSaved(StatusService::Saved::kUnchanged, total);
        KeepValidators(key, validators);
    } else if (ended) {
        if (download_.compare) {
            auto taken = download_.compare->TakeFile();
            download_.compare.reset();
            if (!taken) {
                EndDownload(platform::WriteFailure(DownloadTarget, taken.failure(), total));
                return;
            }
            download_.file = std::move(*taken);
        }
        if (download_.resumedFrom > 0) {
            status.CycleSaved(StatusService::Saved::kResumed, download_.resumedFrom);
        }
        // The fetch is over; the file replaces the old one once the disk has it, while the
        // cycle goes on to the next fetch.
        // What the site says of a file fetched into the content folder itself is kept.
        const bool inPlace =
            GoesToContentFolder(DownloadTarget.mid(DownloadTarget.lastIndexOf('\\') + 1));
        CommitDownload(std::move(download_.file), DownloadTarget, total, inPlace ? key : QString(),
                       validators);
    } else if (download_.file && Resumable(ended, total)) {
        // The part stays for the next try, which asks for the rest.
        qCInfo(lcUpdate).noquote()
            << "kept" << total << "bytes of" << download_.address << "for the next try";
        download_.part = DownloadInProgress::Part{download_.address, std::move(download_.file),
                                                  total, validators};
    } else if (download_.file) {
        download_.file->Discard();
    }
    download_.file.reset();
    download_.compare.reset();
    if (ended.kind() == platform::FailureKind::kDiskFull) {
        SetStatus(ended.reason());  // the operator must make room: say so where they look
    }
    download_.ended = ended;
    DownloadBusy = false;
    platform::WakeWaiters();
}

bool Form1::Resumable(const platform::Result<>& ended, qint64 total) const {
    const int code = Inet1.ResponseCode();
    return total >= kResumableBytes && !Inet1.ResponseValidators().Empty() &&
           (code == 200 || code == 206) && !closing_ &&
           ended.kind() == platform::FailureKind::kOther;
}

QString Form1::AddressKey(const QString& address) {
    return address.left(address.indexOf('?'));
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
                           qint64 size, const QString& key,
                           const platform::Inet::Validators& validators) {
    const QString name = target.mid(target.lastIndexOf('\\') + 1);
    auto refused = std::make_shared<std::optional<content::Refused>>();
    const auto done = [this, target, name, size, refused, key,
                       validators](const platform::Result<>& committed) {
        if (committed) {
            qCDebug(lcUpdate).noquote() << "stored" << target;
            status.CycleFetched(size);
            if (!key.isEmpty()) {
                KeepValidators(key, validators, platform_.files->Identity(target));
            }
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

void Form1::LoadValidators() {
    if (download_.validatorsLoaded) {
        return;
    }
    download_.validatorsLoaded = true;
    const auto host = platform_.files->HostPath(kValidatorsFile);
    QFile file(host.value_or(QString()));
    if (!host || !file.open(QIODevice::ReadOnly)) {
        return;
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() == 4) {
            download_.validators.insert(
                QString::fromUtf8(fields[0]),
                {{QString::fromUtf8(fields[1]), QString::fromUtf8(fields[2])},
                 QString::fromUtf8(fields[3])});
        }
    }
}

void Form1::KeepValidators(const QString& key, const platform::Inet::Validators& validators) {
    KeepValidators(key, validators, platform_.files->Identity(DownloadTarget));
}

void Form1::KeepValidators(const QString& key, const platform::Inet::Validators& validators,
                           const QString& file) {
    const auto known = download_.validators.constFind(key);
    if (known == download_.validators.cend()
            ? validators.Empty()
            : known->validators.etag == validators.etag &&
                  known->validators.lastModified == validators.lastModified &&
                  known->file == file) {
        return;
    }
    if (validators.Empty() || file.isEmpty()) {
        download_.validators.remove(key);
    } else {
        download_.validators.insert(key, {validators, file});
    }
    download_.validatorsChanged = true;
}

void Form1::StoreValidators() {
    if (!std::exchange(download_.validatorsChanged, false)) {
        return;
    }
    QByteArray text;
    for (auto it = download_.validators.cbegin(); it != download_.validators.cend(); ++it) {
        text += it.key().toUtf8() + '\t' + it->validators.etag.toUtf8() + '\t' +
                it->validators.lastModified.toUtf8() + '\t' + it->file.toUtf8() + '\n';
    }
    auto file = platform_.files->CreateDurable(kValidatorsFile);
    if (!file || !(*file)->Write(text)) {
        qCWarning(lcUpdate) << "cannot store what the site said of its files";
        return;
    }
    CommitCounted(**file, [](const platform::Result<>& committed) {
        if (!committed) {
            qCWarning(lcUpdate).noquote()
                << "cannot store what the site said of its files:" << committed.reason();
        }
    });
}
