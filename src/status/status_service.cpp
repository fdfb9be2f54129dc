// The read-only status server: the display's state, its metrics and its picture.
#include "status/status_service.h"

#include "asrun/asrun.h"
#include "platform/log.h"
#include "status/status_page.h"
#include "window/power_off.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QPointer>
#include <QSysInfo>
#include <QThreadPool>
#include <QTimeZone>

namespace {

constexpr int kContentScanEveryMs = 10000;
constexpr int kMemoryReadEveryMs = 5000;
constexpr int kShotEveryMs = 1000;
constexpr int kLoopTickMs = 100;

}  // namespace

StatusService::StatusService(platform::Platform& platform, QWidget& window,
                             const OnAirLedger& ledger, const QString& contentFolder,
                             const QString& mainMovie, std::function<WindowFigures()> windowFigures)
    : platform_(platform),
      window_(window),
      ledger_(ledger),
      contentFolder_(contentFolder),
      mainMoviePath_(contentFolder + '\\' + mainMovie),
      windowFigures_(std::move(windowFigures)) {}

void StatusService::Start() {
    started_ = QDateTime::currentDateTime();
    loopClock_.start();
    platform::KeepRecentWarnings();
    loopProbe_.Tick = [this] {
        const qint64 now = loopClock_.nsecsElapsed();
        if (lastTickNs_ > 0) {
            lateness_.Add(std::max(0.0, (now - lastTickNs_) / 1e9 - kLoopTickMs / 1000.0));
        }
        lastTickNs_ = now;
    };
    loopProbe_.SetInterval(kLoopTickMs);
    loopProbe_.SetEnabled(true);
    if (!platform_.statusServer || platform_.statusPort == 0) {
        return;
    }
    const auto listening = platform_.statusServer->Listen(
        platform_.statusPort,
        [this](const platform::HttpRequest& request, platform::StatusServer::Reply reply) {
            Answer(request, std::move(reply));
        });
    if (!listening) {
        qCWarning(lcApp).noquote() << "status server cannot listen on TCP port"
                                   << platform_.statusPort << ":" << listening.reason();
        return;
    }
    qCInfo(lcApp) << "status server listening on port" << *listening;
}

void StatusService::Stop() {
    loopProbe_.SetEnabled(false);
}

void StatusService::CycleStarted() {
    cycle_ = {};
    cycle_.start = QDateTime::currentDateTime();
}

void StatusService::CycleListing(const QByteArray& content) {
    cycle_.listingSha256 =
        QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
}

void StatusService::CycleNoListing() {
    cycle_.result = CycleResult::kNoListing;
}

void StatusService::CycleFetched(qint64 bytes) {
    ++cycle_.fetched;
    cycle_.bytes += bytes;
    bytesFetched_ += static_cast<quint64>(bytes);
}

void StatusService::CycleSaved(Saved how, qint64 bytes) {
    cycle_.saved[static_cast<size_t>(how)] += bytes;
    bytesSaved_[static_cast<size_t>(how)] += static_cast<quint64>(bytes);
}

void StatusService::CycleFilesFailed(int count) {
    cycle_.failed = count;
}

void StatusService::ContentRefused(const QString& name, const content::Refused& refused,
                                   bool fetched) {
    ++refusals_[static_cast<size_t>(refused.refusal)];
    if (fetched) {
        cycle_.refused.append({name, refused.reason});
    }
}

void StatusService::CycleEnded(bool closing) {
    cycle_.end = QDateTime::currentDateTime();
    if (closing) {
        cycle_.result = CycleResult::kClosed;
    } else if (!cycle_.result) {
        cycle_.result = cycle_.failed > 0 ? CycleResult::kFilesFailed : CycleResult::kOk;
    }
    ++cyclesByResult_[static_cast<size_t>(*cycle_.result)];
}

void StatusService::PushReceived(const QString& path) {
    ++push_.files;
    push_.lastFile = path;
}

status_report::Snapshot StatusService::Snapshot() {
    status_report::Snapshot s;
    s.now = QDateTime::currentDateTime();
    s.started = started_;
    s.version = platform_.version;
    s.host = QSysInfo::machineHostName();
    s.timeZone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
    s.warnings = platform::RecentWarnings();
    for (auto it = ledger_.OnAir().cbegin(); it != ledger_.OnAir().cend(); ++it) {
        status_report::Snapshot::Item item{it.key(), it->shown, it->start, it->plannedMs};
        if (platform::ShockwaveFlash* movie = ledger_.Player(it.key())) {
            item.frame = movie->CurrentFrame();
            item.frames = movie->TotalFrames();
        }
        s.onAir << item;
    }
    for (const auto& [kind, word] : on_air::kKinds) {
        s.items[static_cast<size_t>(kind)] = ledger_.CountsOf(kind);
    }
    const WindowFigures window = windowFigures_();
    s.radio = window.radio;
    s.radio.address = platform_.endpoints.radioUrl;
    s.radio.retriesTotal = radioRetries_;
    s.updating = window.updating;
    s.statusLine = window.statusLine;
    s.selfCheck = window.selfCheck;
    s.mainMovieFaults = window.mainMovieFaults;
    s.mainMovieWarnings = window.mainMovieWarnings;
    s.refusals = refusals_;
    s.powerOffTime = window.powerOffTime;
    s.powerOffRequested = window.powerOffRequested;
    s.nextPowerOff = power_off::NextTime(window.powerOffTime, s.now);
    s.lastCycle = cycle_;
    s.cyclesByResult = cyclesByResult_;
    s.bytesFetched = bytesFetched_;
    s.bytesSaved = bytesSaved_;
    s.content = content_;
    s.keptFreeBytes = platform_.minFreeBytes;
    s.pssMiB = MemoryPssMiB();
    s.ceilingMiB = platform_.memoryCeilingMb;
    s.push = push_;
    if (platform_.clockSync) {
        s.clockSynchronised = platform_.clockSync->Synchronised();
    }
    s.engines[0].figures = platform_.flash1->Figures();
    s.engines[1].figures = platform_.flash2->Figures();
    s.lateness = lateness_;
    if (!platform_.files->FileExists(mainMoviePath_)) {
        s.missingMainMovie = mainMoviePath_;
    }
    if (platform_.asrun) {
        s.asrunTrouble = platform_.asrun->Trouble();
    }
    return s;
}

void StatusService::Answer(const platform::HttpRequest& request,
                           platform::StatusServer::Reply reply) {
    const QString& path = request.path;
    if (path == QLatin1String("/status")) {
        WithContentFigures([this, reply] {
            reply(platform::HttpAnswer::Of(
                200, "application/json",
                QJsonDocument(status_report::Json(Snapshot())).toJson(QJsonDocument::Indented)));
        });
    } else if (path == QLatin1String("/metrics")) {
        WithContentFigures([this, reply] {
            reply(platform::HttpAnswer::Of(200, "text/plain; version=0.0.4; charset=utf-8",
                                           status_report::Metrics(Snapshot())));
        });
    } else if (path == QLatin1String("/")) {
        reply(platform::HttpAnswer::Of(
            200, "text/html; charset=utf-8",
            status_page::Page(status_report::Json(Snapshot()), QDateTime::currentDateTime())));
    } else if (path == QLatin1String("/screenshot.png") ||
               path == QLatin1String("/screenshot.jpg")) {
        bool ok = true;
        const int width = request.query.contains("w") ? request.query.value("w").toInt(&ok) : 0;
        if (!ok || width < 0 || width > 8192) {
            reply(platform::HttpAnswer::Text(400, "w is a width in pixels, 1 to 8192"));
            return;
        }
        AnswerScreenshot(path.endsWith(QLatin1String(".png")), width, std::move(reply));
    } else if (path.startsWith(QLatin1String("/asrun/"))) {
        AnswerAsRun(path.mid(7), std::move(reply));
    } else {
        reply(platform::HttpAnswer::Text(404, "not found"));
    }
}
// "/asrun/YYYY-MM-DD.jsonl" is that day's file as it is; ".csv" its report, which also
// takes in the day after's file for the items that ended after midnight.
void StatusService::AnswerAsRun(const QString& name, platform::StatusServer::Reply reply) {
    const bool csv = name.endsWith(QLatin1String(".csv"));
    const auto day = asrun::DayOfFileName(csv ? name.chopped(4) + QStringLiteral(".jsonl") : name);
    if (!day || !platform_.asrun) {
        reply(platform::HttpAnswer::Text(404, "not found"));
        return;
    }
    if (!csv) {
        platform_.asrun->ReadDay(*day, [reply](std::optional<QByteArray> content) {
            reply(content ? platform::HttpAnswer::Of(200, "application/x-ndjson", *content)
                          : platform::HttpAnswer::Text(404, "no as-run log of that day"));
        });
        return;
    }
    platform::AsRunLog* log = platform_.asrun.get();
    log->ReadDay(*day, [log, reply, day = *day](std::optional<QByteArray> content) {
        if (!content) {
            reply(platform::HttpAnswer::Text(404, "no as-run log of that day"));
            return;
        }
        log->ReadDay(day.addDays(1),
                     [reply, day, first = *content](std::optional<QByteArray> next) {
                         QList<asrun::File> files{{asrun::DayFileName(day), first}};
                         if (next) {
                             files.append({asrun::DayFileName(day.addDays(1)), *next});
                         }
                         reply(platform::HttpAnswer::Of(
                             200, "text/csv; charset=utf-8",
                             asrun::ReportHeader(false) + asrun::ReportCsv(files, QString(), day)));
                     });
    });
}

void StatusService::WithContentFigures(std::function<void()> then) {
    const bool fresh =
        content_.measured.isValid() &&
        content_.measured.msecsTo(QDateTime::currentDateTime()) < kContentScanEveryMs;
    if (fresh || scanning_ || !platform_.files) {
        then();  // what was counted last; a count under way is not waited for
        return;
    }
    scanning_ = true;
    QPointer<StatusService> self(this);
    platform_.files->MeasureFolder(
        contentFolder_, [self, then](const platform::FileSystem::FolderFigures& figures) {
            if (!self) {
                return;
            }
            self->content_ = {QDateTime::currentDateTime(), figures.files, figures.bytes,
                              figures.freeBytes};
            self->scanning_ = false;
            then();
        });
}

double StatusService::MemoryPssMiB() {
    if (!memoryMeasured_.isValid() || memoryMeasured_.hasExpired(kMemoryReadEveryMs)) {
        memoryMiB_ = platform_.memory ? platform_.memory->ProgramMiB() : -1.0;
        memoryMeasured_.start();
    }
    return memoryMiB_;
}
void StatusService::AnswerScreenshot(bool png, int width, platform::StatusServer::Reply reply) {
    const QDateTime now = QDateTime::currentDateTime();
    if (!shotTaken_.isValid() || shotTaken_.msecsTo(now) >= kShotEveryMs) {
        shot_ = platform_.grabber ? platform_.grabber->Grab(window_) : QImage();
        shotTaken_ = now;
    }
    if (shot_.isNull()) {
        reply(platform::HttpAnswer::Text(503, "no picture to grab"));
        return;
    }
    // Scaled and encoded on a worker.
    QThreadPool::globalInstance()->start(
        [shot = shot_, taken = shotTaken_, png, width, reply, self = QPointer(this)] {
            const QImage image = width > 0 && width < shot.width()
                                     ? shot.scaledToWidth(width, Qt::SmoothTransformation)
                                     : shot;
            QImage tagged = image;
            const QString when = status_report::Iso(taken);
            tagged.setText(QStringLiteral("Creation Time"), when);
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            tagged.save(&buffer, png ? "PNG" : "JPG", png ? -1 : 85);
            QMetaObject::invokeMethod(
                self,
                [reply, bytes, png, when] {
                    auto answer =
                        platform::HttpAnswer::Of(200, png ? "image/png" : "image/jpeg", bytes);
                    answer.headers.append({"X-Taken", when.toUtf8()});
                    reply(answer);
                },
                Qt::QueuedConnection);
        });
}
