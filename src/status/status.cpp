// The read-only status server: the display's state, its metrics and its picture.
#include "asrun/asrun.h"
#include "platform/log.h"
#include "platform/status_protocol.h"
#include "status/status_page.h"
#include "window/form1.h"
#include "window/power_off.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSysInfo>
#include <QThreadPool>
#include <QTimeZone>

#include <array>
#include <utility>

namespace {

constexpr int kContentScanEveryMs = 10000;
constexpr int kMemoryReadEveryMs = 5000;
constexpr int kShotEveryMs = 1000;
constexpr int kLoopTickMs = 100;
const QStringList kKinds = {"main", "insert", "film", "sound", "photo", "radio"};

QString Iso(const QDateTime& time) {
    return time.isValid() ? time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs)
                          : QString();
}

QJsonValue OrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// The two Flash players, by the name the status gives them.
std::array<std::pair<const char*, platform::ShockwaveFlash*>, 2> Players(Form1& form) {
    return {{{"main", &form.ShockwaveFlash1}, {"insert", &form.ShockwaveFlash2}}};
}

// A Prometheus label value.
QString Label(QString text) {
    return text.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
}

}  // namespace

void Form1::StartStatusServer() {
    status_.started = QDateTime::currentDateTime();
    status_.loopClock.start();
    platform::KeepRecentWarnings();
    loopProbe_.Tick = [this] {
        const qint64 now = status_.loopClock.nsecsElapsed();
        if (status_.lastTickNs > 0) {
            const double late =
                std::max(0.0, (now - status_.lastTickNs) / 1e9 - kLoopTickMs / 1000.0);
            size_t bucket = 0;
            while (bucket < StatusRecord::kLateBounds.size() &&
                   late > StatusRecord::kLateBounds[bucket]) {
                ++bucket;
            }
            ++status_.lateCounts[bucket];
            status_.lateSum += late;
        }
        status_.lastTickNs = now;
    };
    loopProbe_.SetInterval(kLoopTickMs);
    loopProbe_.SetEnabled(true);
    if (!platform_.statusServer || platform_.statusPort == 0) {
        return;
    }
    const auto listening = platform_.statusServer->Listen(
        platform_.statusPort,
        [this](const platform::HttpRequest& request, platform::StatusServer::Reply reply) {
            AnswerStatusRequest(request, std::move(reply));
        });
    if (!listening) {
        qCWarning(lcApp).noquote() << "status server cannot listen on TCP port"
                                   << platform_.statusPort << ":" << listening.reason();
        return;
    }
    qCInfo(lcApp) << "status server listening on port" << *listening;
}

platform::AsRunLog::Start Form1::AsRunStart(const QString& kind, const QString& name,
                                            int plannedMs) const {
    platform::AsRunLog::Start start;
    start.at = QDateTime::currentDateTime();
    start.kind = kind;
    start.plannedMs = plannedMs;
    // Drive paths name the file that plays; the record names it as the movie did.
    start.file = name.contains(QLatin1String(":\\"))                 ? name
                 : kind == QLatin1String("photo") && !name.isEmpty() ? ContentPath(name)
                                                                     : QString();
    start.name = start.file.isEmpty() ? name : start.file.mid(start.file.lastIndexOf('\\') + 1);
    if (!start.file.isEmpty()) {
        const auto origin = platform_.asrun->OriginOf(start.name);
        start.origin = origin.origin;
        start.listing = origin.listing;
    }
    return start;
}

void Form1::NoteOnAir(const QString& kind, const QString& name, int plannedMs) {
    NoteOffAir(kind, QStringLiteral("cut"));
    StatusRecord::Item item{name, QDateTime::currentDateTime(), plannedMs};
    if (platform_.asrun) {
        item.asrunItem = platform_.asrun->Begin(AsRunStart(kind, name, plannedMs));
    }
    status_.onAir[kind] = item;
    ++status_.itemsStarted[kind];
}

void Form1::NoteOffAir(const QString& kind, const QString& outcome) {
    const auto it = status_.onAir.constFind(kind);
    if (it == status_.onAir.cend()) {
        return;
    }
    const bool failed = outcome.startsWith(QLatin1String("failed"));
    ++(failed ? status_.itemsFailed : status_.itemsEnded)[kind];
    if (platform_.asrun && it->asrunItem != 0) {
        platform::AsRunLog::End end;
        end.at = QDateTime::currentDateTime();
        end.outcome = outcome;
        if (const qsizetype colon = outcome.indexOf(QLatin1String(": ")); colon > 0) {
            end.outcome = outcome.left(colon);
            end.reason = outcome.mid(colon + 2);
        }
        platform::ShockwaveFlash* movie = kind == QLatin1String("main")     ? &ShockwaveFlash1
                                          : kind == QLatin1String("insert") ? &ShockwaveFlash2
                                                                            : nullptr;
        if (movie) {
            end.framesShown = movie->CurrentFrame() + 1;
            end.framesTotal = movie->TotalFrames();
        }
        platform_.asrun->Finish(it->asrunItem, end);
    }
    status_.onAir.erase(it);
}

void Form1::NoteFailedItem(const QString& kind, const QString& name, const QString& reason) {
    ++status_.itemsFailed[kind];
    if (platform_.asrun) {
        platform_.asrun->Failed(AsRunStart(kind, name, 0), reason);
    }
}

void Form1::AnswerStatusRequest(const platform::HttpRequest& request,
                                platform::StatusServer::Reply reply) {
    const QString& path = request.path;
    if (path == QLatin1String("/status")) {
        WithContentFigures([this, reply] {
            reply(platform::HttpAnswer::Of(
                200, "application/json",
                QJsonDocument(StatusJson()).toJson(QJsonDocument::Indented)));
        });
    } else if (path == QLatin1String("/metrics")) {
        WithContentFigures([this, reply] {
            reply(platform::HttpAnswer::Of(200, "text/plain; version=0.0.4; charset=utf-8",
                                           MetricsText()));
        });
    } else if (path == QLatin1String("/")) {
        reply(platform::HttpAnswer::Of(200, "text/html; charset=utf-8", StatusPage()));
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
void Form1::AnswerAsRun(const QString& name, platform::StatusServer::Reply reply) {
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

void Form1::WithContentFigures(std::function<void()> then) {
    auto& content = status_.content;
    const bool fresh = content.measured.isValid() &&
                       content.measured.msecsTo(QDateTime::currentDateTime()) < kContentScanEveryMs;
    if (fresh || content.scanning || !platform_.files) {
        then();  // what was counted last; a count under way is not waited for
        return;
    }
    content.scanning = true;
    QPointer<Form1> self(this);
    platform_.files->MeasureFolder(
        kContentFolder, [self, then](const platform::FileSystem::FolderFigures& figures) {
            if (!self) {
                return;
            }
            self->status_.content = {QDateTime::currentDateTime(), figures.files, figures.bytes,
                                     figures.freeBytes, false};
            then();
        });
}

double Form1::MemoryPssMiB() {
    auto& memory = status_.memory;
    if (!memory.measured.isValid() || memory.measured.hasExpired(kMemoryReadEveryMs)) {
        memory.mib = platform_.memory ? platform_.memory->ProgramMiB() : -1.0;
        memory.measured.start();
    }
    return memory.mib;
}

QStringList Form1::StatusReasons(double pssMiB, QString* state) {
    QStringList fault, degraded;
    if (!platform_.files->FileExists(ContentPath(kMainMovie))) {
        fault << QStringLiteral("no main movie at ") + ContentPath(kMainMovie);
    }
    const auto& cycle = status_.lastCycle;
    if (cycle.result && *cycle.result != StatusRecord::CycleResult::kOk) {
        degraded << QStringLiteral("last update cycle: ") + StatusRecord::Text(*cycle.result);
    }
    const auto& content = status_.content;
    if (content.freeBytes >= 0 && content.freeBytes < platform_.minFreeBytes) {
        degraded << QStringLiteral("disk: %1 MiB free, %2 MiB kept free")
                        .arg(content.freeBytes >> 20)
                        .arg(platform_.minFreeBytes >> 20);
    }
    if (pssMiB > 0.9 * platform_.memoryCeilingMb) {
        degraded << QStringLiteral("memory: %1 MiB of a %2 MiB ceiling")
                        .arg(pssMiB, 0, 'f', 0)
                        .arg(platform_.memoryCeilingMb);
    }
    if (presentation_.radioDrops > 0) {
        degraded << QStringLiteral("radio stream stopped %1 times in a row")
                        .arg(presentation_.radioDrops);
    }
    const QDateTime now = QDateTime::currentDateTime();
    degraded << PictureReasons(status_.picture, now) << EngineReasons(status_, now);
    if (platform_.asrun && !platform_.asrun->Trouble().isEmpty()) {
        degraded << platform_.asrun->Trouble();
    }
    if (!fault.isEmpty()) {
        *state = QStringLiteral("FAULT");
    } else if (status_.powerOffRequested) {
        *state = QStringLiteral("SCHEDULED_OFF");
    } else if (!degraded.isEmpty()) {
        *state = QStringLiteral("DEGRADED");
    } else {
        *state = QStringLiteral("OK");
    }
    return fault + degraded;
}

QJsonObject Form1::StatusJson() {
    namespace key = status_protocol::key;
    QString state;
    const double pss = MemoryPssMiB();
    const QStringList reasons = StatusReasons(pss, &state);
    const QDateTime now = QDateTime::currentDateTime();
    QJsonObject json;
    json[key::kVersion] = platform_.version;
    json["host"] = QSysInfo::machineHostName();
    json["started"] = Iso(status_.started);
    json[key::kUptime] = static_cast<double>(status_.started.secsTo(now));
    json[key::kState] = state;
    json[key::kReasons] = QJsonArray::fromStringList(reasons);

    QJsonObject air;
    for (auto it = status_.onAir.cbegin(); it != status_.onAir.cend(); ++it) {
        QJsonObject item{{key::kName, it->name}, {"since", Iso(it->start)}};
        if (it.key() == QLatin1String("photo") && it->plannedMs > 0) {
            item["seconds_left"] =
                std::max<qint64>(0, it->plannedMs - it->start.msecsTo(now)) / 1000.0;
        }
        if (it.key() == QLatin1String("main")) {
            item["frame"] = ShockwaveFlash1.CurrentFrame();
            item["frames"] = ShockwaveFlash1.TotalFrames();
        } else if (it.key() == QLatin1String("insert")) {
            item["frame"] = ShockwaveFlash2.CurrentFrame();
            item["frames"] = ShockwaveFlash2.TotalFrames();
        }
        air[it.key()] = item;
    }
    json[key::kOnAir] = air;
    json["radio"] = QJsonObject{{"address", platform_.endpoints.radioUrl},
                                {"playing", RadioPlaying},
                                {"source", OrNull(presentation_.radioSource)},
                                {"retries", presentation_.radioRetries},
                                {"last_reason", OrNull(presentation_.radioReason)}};

    const auto& cycle = status_.lastCycle;
    json[key::kLastCycle] = QJsonObject{
        {"start", OrNull(Iso(cycle.start))},
        {key::kEnd, OrNull(Iso(cycle.end))},
        {key::kResult, OrNull(cycle.result ? StatusRecord::Text(*cycle.result) : QString())},
        {"running", Updating},
        {"fetched", cycle.fetched},
        {"failed", cycle.failed},
        {"bytes", static_cast<double>(cycle.bytes)},
        {key::kListingSha256, OrNull(cycle.listingSha256)}};
    const auto& content = status_.content;
    json[key::kContent] =
        QJsonObject{{"files", static_cast<double>(content.files)},
                    {"bytes", static_cast<double>(content.bytes)},
                    {key::kFreeBytes, static_cast<double>(content.freeBytes)},
                    {"kept_free_bytes", static_cast<double>(platform_.minFreeBytes)},
                    {"measured", OrNull(Iso(content.measured))}};
    json[key::kMemory] =
        QJsonObject{{key::kPssMib, pss}, {"ceiling_mib", platform_.memoryCeilingMb}};
    json["push"] = QJsonObject{{"files", static_cast<double>(status_.pushes)},
                               {"last_peer", OrNull(status_.lastPushPeer)},
                               {"last_file", OrNull(status_.lastPushFile)},
                               {"refused", static_cast<double>(status_.pushRefusals)}};
    const QDateTime next = power_off::NextTime(TxttijdUit->text(), now);
    json["power_off"] = QJsonObject{{"time", OrNull(TxttijdUit->text())},
                                    {"next", OrNull(Iso(next))},
                                    {"requested", status_.powerOffRequested}};
    const auto synchronised =
        platform_.clockSync ? platform_.clockSync->Synchronised() : std::optional<bool>();
    json["clock"] =
        QJsonObject{{"now", Iso(now)},
                    {"time_zone", QString::fromUtf8(QTimeZone::systemTimeZoneId())},
                    {"synchronised", synchronised ? QJsonValue(*synchronised) : QJsonValue()}};
    QJsonObject engines;
    for (const auto& [player, flash] : Players(*this)) {
        const auto figures = flash->Figures();
        engines[player] = QJsonObject{{"renderer", OrNull(figures.renderer)},
                                      {"page_loads", figures.pageLoads},
                                      {"movies_failed", figures.moviesFailed},
                                      {"recoveries", figures.recoveries}};
    }
    json["engines"] = engines;
    json["warnings"] = QJsonArray::fromStringList(platform::RecentWarnings());
    json["status_line"] = lblInfo->text();
    return json;
}

QByteArray Form1::MetricsText() {
    QString state;
    const double pss = MemoryPssMiB();
    StatusReasons(pss, &state);
    QString out;
    const auto family = [&out](const char* name, const char* type, const char* help) {
        out += QStringLiteral("# HELP dravonelle_%1 %2\n# TYPE dravonelle_%1 %3\n")
                   .arg(QLatin1String(name), QLatin1String(help), QLatin1String(type));
    };
    const auto sample = [&out](const QString& name, const QString& labels, double value) {
        out += QStringLiteral("dravonelle_") + name + (labels.isEmpty() ? "" : '{' + labels + '}') +
               ' ' + QString::number(value, 'g', 15) + '\n';
    };
    const auto byKind = [&](const char* name, const char* help,
                            const QMap<QString, quint64>& counts) {
        family(name, "counter", help);
        for (const QString& kind : kKinds) {
            sample(QLatin1String(name), QStringLiteral("kind=\"%1\"").arg(kind),
                   static_cast<double>(counts.value(kind)));
        }
    };
    byKind("items_started_total", "Items that went on air, by kind.", status_.itemsStarted);
    byKind("items_ended_total", "Items that went off air, by kind.", status_.itemsEnded);
    byKind("items_failed_total", "Items that could not go on air, by kind.", status_.itemsFailed);
    family("update_cycles_total", "counter", "Update cycles ended, by result.");
    for (const auto& [result, word] : StatusRecord::kCycleResults) {
        sample("update_cycles_total",
               QStringLiteral("result=\"%1\"").arg(Label(QString::fromLatin1(word))),
               static_cast<double>(status_.cyclesByResult[static_cast<size_t>(result)]));
    }
    family("fetched_bytes_total", "counter", "Bytes of files fetched from the content site.");
    sample("fetched_bytes_total", {}, static_cast<double>(status_.bytesFetched));
    family("pushes_total", "counter", "Files received by the push server.");
    sample("pushes_total", {}, static_cast<double>(status_.pushes));
    family("push_refusals_total", "counter", "Push connections refused by the allow-list.");
    sample("push_refusals_total", {}, static_cast<double>(status_.pushRefusals));
    family("memory_pss_bytes", "gauge", "Proportional set size of the program and its engines.");
    sample("memory_pss_bytes", {}, pss >= 0 ? pss * 1048576.0 : -1.0);
    family("memory_ceiling_bytes", "gauge", "Past this the program restarts at a quiet moment.");
    sample("memory_ceiling_bytes", {}, platform_.memoryCeilingMb * 1048576.0);
    family("disk_free_bytes", "gauge", "Free space of the content folder's file system.");
    sample("disk_free_bytes", {}, static_cast<double>(status_.content.freeBytes));
    family("content_files", "gauge", "Files in the content folder.");
    sample("content_files", {}, static_cast<double>(status_.content.files));
    family("radio_playing", "gauge", "1 while the background radio plays.");
    sample("radio_playing", {}, RadioPlaying ? 1 : 0);
    family("radio_retries_total", "counter", "Starts of the radio while its stream was away.");
    sample("radio_retries_total", {}, static_cast<double>(status_.radioRetries));
    family("radio_outage_retries", "gauge",
           "Starts of the radio since its stream went away, with the last reason; absent while "
           "it plays.");
    if (presentation_.radioDrops > 0) {
        sample("radio_outage_retries",
               QStringLiteral("reason=\"%1\"").arg(Label(presentation_.radioReason)),
               presentation_.radioRetries);
    }
    family("last_cycle_end_timestamp_seconds", "gauge", "When the last update cycle ended.");
    sample("last_cycle_end_timestamp_seconds", {},
           status_.lastCycle.end.isValid() ? status_.lastCycle.end.toSecsSinceEpoch() : 0);
    family("build_info", "gauge", "1, with the version of the program that runs.");
    sample("build_info", QStringLiteral("version=\"%1\"").arg(Label(platform_.version)), 1);
    family("start_timestamp_seconds", "gauge", "When the program started.");
    sample("start_timestamp_seconds", {}, static_cast<double>(status_.started.toSecsSinceEpoch()));
    family("state", "gauge", "1 for the display's state.");
    for (const QString each : {"OK", "DEGRADED", "SCHEDULED_OFF", "FAULT"}) {
        sample("state", QStringLiteral("state=\"%1\"").arg(each), each == state ? 1 : 0);
    }
    const auto players = Players(*this);
    using Figures = platform::ShockwaveFlash::EngineFigures;
    const struct {
        const char* name;
        const char* help;
        int Figures::*field;
    } engineCounters[] = {
        {"engine_page_loads_total", "Pages each Flash player's engine loaded.",
         &Figures::pageLoads},
        {"engine_movies_failed_total", "Movies each Flash player could not play.",
         &Figures::moviesFailed},
        {"engine_recoveries_total",
         "Times each Flash player's engine was found stuck or dead and started afresh.",
         &Figures::recoveries},
    };
    for (const auto& counter : engineCounters) {
        family(counter.name, "counter", counter.help);
        for (const auto& [player, flash] : players) {
            sample(counter.name, QStringLiteral("player=\"%1\"").arg(player),
                   flash->Figures().*counter.field);
        }
    }
    family("event_loop_lateness_seconds", "histogram",
           "How late a 100 ms tick of the window's event loop came.");
    quint64 cumulative = 0;
    for (size_t i = 0; i < StatusRecord::kLateBounds.size(); ++i) {
        cumulative += status_.lateCounts[i];
        sample("event_loop_lateness_seconds_bucket",
               QStringLiteral("le=\"%1\"").arg(StatusRecord::kLateBounds[i]),
               static_cast<double>(cumulative));
    }
    cumulative += status_.lateCounts.back();
    sample("event_loop_lateness_seconds_bucket", QStringLiteral("le=\"+Inf\""),
           static_cast<double>(cumulative));
    sample("event_loop_lateness_seconds_sum", {}, status_.lateSum);
    sample("event_loop_lateness_seconds_count", {}, static_cast<double>(cumulative));
    return out.toUtf8();
}

QByteArray Form1::StatusPage() {
    return status_page::Page(StatusJson(), QDateTime::currentDateTime());
}

void Form1::AnswerScreenshot(bool png, int width, platform::StatusServer::Reply reply) {
    const QDateTime now = QDateTime::currentDateTime();
    if (!status_.shotTaken.isValid() || status_.shotTaken.msecsTo(now) >= kShotEveryMs) {
        status_.shot = platform_.grabber ? platform_.grabber->Grab(*this) : QImage();
        status_.shotTaken = now;
    }
    if (status_.shot.isNull()) {
        reply(platform::HttpAnswer::Text(503, "no picture to grab"));
        return;
    }
    // Scaled and encoded on a worker.
    QThreadPool::globalInstance()->start(
        [shot = status_.shot, taken = status_.shotTaken, png, width, reply, self = QPointer(this)] {
            const QImage image = width > 0 && width < shot.width()
                                     ? shot.scaledToWidth(width, Qt::SmoothTransformation)
                                     : shot;
            QImage tagged = image;
            const QString when = Iso(taken);
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
