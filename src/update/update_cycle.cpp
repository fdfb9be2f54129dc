// One update cycle: the content folder brought in step with the content site.
#include "content/content_names.h"
#include "module1/module1.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "update/listing.h"
#include "window/form1.h"

#include <QLocale>

namespace {

const QString kListing = QStringLiteral("file.txt");
const QString kWeather = QStringLiteral("weerbericht.jpg");
const QString kFlashText = QStringLiteral("flash.txt");

}  // namespace

void Form1::SetMainMovie(const QString& path) {
    const QString chosen = lastGood.Choose(path);
    if (chosen.isEmpty()) {
        ShowConnectingScreen();
        return;
    }
    if (lastGood.IsCopy(chosen)) {
        ShockwaveFlash1.SetMovieFrom(chosen, kContentFolder);
    } else {
        ShockwaveFlash1.SetMovie(chosen);
    }
    onAir.Begin(on_air::Kind::kMain, OnAirLedger::File(chosen));
    download_.lastStatusVariable.reset();
    lastGood.Loaded(chosen);
}

void Form1::ShowConnectingScreen() {
    if (ShockwaveFlash1.Movie() == DownloadMoviePath()) {
        DownloadScreenShown = true;
        return;
    }
    ShowDownloadScreen();
}

QString Form1::DownloadMoviePath() const {
    return platform_.programFolder + QStringLiteral("\\download.swf");
}

void Form1::ShowDownloadScreen() {
    platform_.pointer->SetCursorPos(static_cast<int>(WindowWidth()), 0);
    ShockwaveFlash1.SetWidth(static_cast<float>(WindowWidth()));
    ShockwaveFlash1.SetHeight(static_cast<float>(WindowHeight()));
    unsetCursor();
    SetMainMovie(DownloadMoviePath());
    SetStatusVariable(QStringLiteral("Maakt verbinding.."));
    DownloadScreenShown = true;
    ShockwaveFlash1.Play();
}

void Form1::cmdupdate_Click() {
    ShockwaveFlash1.SetHeight(static_cast<float>(WindowHeight()));
    ShockwaveFlash1.SetWidth(static_cast<float>(WindowWidth()));
    UpdateContent();
}

bool Form1::UpdateBusy() const {
    return Updating;
}

void Form1::UpdateContent() {
    if (Updating) {
        return;
    }
    Updating = true;
    qCInfo(lcUpdate) << "update cycle starts";
    // Every return from here on ends the cycle.
    status.CycleStarted();
    struct EndCycle {
        Form1* form;
        ~EndCycle() {
            form->Updating = false;
            form->status.CycleEnded(form->closing_);
            if (!form->closing_) {
                form->lastGood.CycleEnded();
            }
            if (form->platform_.asrun) {
                form->platform_.asrun->StoreOrigins();
            }
            qCInfo(lcUpdate) << "update cycle ends";
        }
    } endCycle{this};

    SiteLocation = Lokatie->text();
    download_.commitFailed.clear();
    download_.listedFailed.clear();
    if (BufferPending) {
        if (!MoveBufferAndRestart(MainMovieChanged, true)) {
            return;
        }
        BufferPending = false;
        MainMovieChanged = false;
    }
    const auto listings = FetchListing();
    if (!listings || !FetchListedFiles(*listings) || !FetchWeather()) {
        return;
    }
    SetStatus(QStringLiteral("Geen verbinding"));
    Module1::HangUpDialUp(*platform_.dialUp);
    if (DownloadScreenShown) {
        // Cleared first: a main movie that cannot be played puts the connecting screen back.
        DownloadScreenShown = false;
        if (!MoveBufferAndRestart(true, false)) {
            return;
        }
    }
}

bool Form1::MoveBufferAndRestart(bool restart, bool afresh) {
    platform::PumpEventsOnce();
    if (!WaitForCommits()) {
        return false;
    }
    MoveBufferedFiles();
    if (restart) {
        if (afresh) {
            SetMainMovie(DownloadMoviePath());
        }
        SetMainMovie(ContentPath(kMainMovie));
        ShockwaveFlash1.Rewind();
        ShockwaveFlash1.Play();
    }
    return true;
}

std::optional<Form1::Listings> Form1::FetchListing() {
    auto& files = *platform_.files;
    CurrentFile = kFlashText;
    SetStatus(QStringLiteral("Download:") + CurrentFile);
    DownloadFile(SiteLocation + '/' + CurrentFile, CurrentFile);
    if (closing_) {
        return std::nullopt;
    }
    DownloadFile(SiteLocation + '/' + kMainMovie, kMainMovie);
    if (!WaitForCommits()) {
        return std::nullopt;
    }

    const QString listingPath = ContentPath(kListing);
    Listings listings;
    listings.previous = update::SplitListing(
        files.FileExists(listingPath) ? files.ReadFirstItem(listingPath).value_or(QString())
                                      : QString());
    const QString number = QLocale::system().toString(platform_.random->Next(), 'g', 7);
    DownloadFile(SiteLocation + QStringLiteral("dir.php?a=") + number, kListing);
    if (!WaitForCommits()) {
        return std::nullopt;
    }
    const auto currentText = files.ReadFirstItem(listingPath);
    if (!currentText) {
        qCWarning(lcUpdate) << "no readable listing: no listed file is fetched";
        status.CycleNoListing();
    } else {
        status.CycleListing(currentText->toUtf8());
    }
    listings.current = update::SplitListing(currentText.value_or(QString()));
    return listings;
}

bool Form1::FetchListedFiles(const Listings& listings) {
    const update::PreviousListing previous(listings.previous);
    const QStringList& fields = listings.current;
    ExpectedBytes = 0;
    DownloadedBytes = 0;
    for (qsizetype i = 0; i + 2 < fields.size(); i += 3) {
        if (!previous.Matches(fields[i], fields[i + 1])) {
            ExpectedBytes += update::SizeField(fields[i + 2]);
        }
    }
    QStringList failed;
    for (qsizetype i = 0; i + 2 < fields.size(); i += 3) {
        const QString& name = fields[i];
        if (update::IsExcludedName(name)) {
            continue;
        }
        CurrentFile = name;
        if (previous.Matches(name, fields[i + 1])) {
            continue;
        }
        if (const QString refused = content::RefusalReason(name, content::kListedName);
            !refused.isEmpty()) {
            qCWarning(lcUpdate).noquote() << "listed name skipped (" + refused + "):" << name;
            continue;
        }
        SetStatus(QStringLiteral("Download:") + name);
        if (name == kMainMovie) {
            MainMovieChanged = true;
        }
        BufferPending = true;
        if (!DownloadFile(SiteLocation + QStringLiteral("/fotos/") + update::AddressSegment(name),
                          name)) {
            failed.append(name);
        } else if (platform_.asrun) {
            platform_.asrun->NoteOrigin(name, {asrun::origin::kSite, fields[i + 1]});
        }
        if (closing_) {
            return false;
        }
    }
    if (!WaitForCommits()) {
        return false;
    }
    failed << download_.commitFailed;
    download_.listedFailed = failed;
    if (!failed.isEmpty()) {
        ForgetFailedEntries(failed);
    }
    return true;
}

bool Form1::FetchWeather() {
    CurrentFile = kWeather;
    if (!platform_.endpoints.weatherUrl.isEmpty()) {  // empty when not an http(s) address
        DownloadFile(platform_.endpoints.weatherUrl, kWeather);
    }
    StoreValidators();
    if (!WaitForCommits()) {
        return false;
    }
    // The listed files that failed, and every file refused or not taken by the disk.
    QStringList failed = download_.listedFailed + download_.commitFailed;
    failed.removeDuplicates();
    status.CycleFilesFailed(static_cast<int>(failed.size()));
    return true;
}

void Form1::ForgetFailedEntries(const QStringList& failed) {
    // The stored listing is the memory of what has been fetched: take out the entries
    // whose fetch failed, so that the next cycle asks for them again.
    auto& files = *platform_.files;
    const QString listingPath = ContentPath(kListing);
    const QStringList fields =
        update::SplitListing(files.ReadFirstItem(listingPath).value_or(QString()));
    QStringList kept;
    qsizetype i = 0;
    for (; i + 2 < fields.size(); i += 3) {
        if (!failed.contains(fields[i])) {
            kept << fields[i] << fields[i + 1] << fields[i + 2];
        }
    }
    for (; i < fields.size(); ++i) {
        kept << fields[i];
    }
    auto file = files.CreateDurable(listingPath);
    platform::Result<> written = file ? (*file)->Write(kept.join(';').toUtf8())
                                      : platform::Result<>(platform::Fail(file.reason()));
    if (!written) {
        qCWarning(lcUpdate).noquote() << "cannot rewrite the listing:" << written.reason();
        return;
    }
    CommitCounted(**file, [failed](const platform::Result<>& committed) {
        if (!committed) {
            qCWarning(lcUpdate).noquote() << "cannot rewrite the listing:" << committed.reason();
            return;
        }
        qCWarning(lcUpdate).noquote() << "will fetch again at the next cycle:" << failed.join(", ");
    });
}
