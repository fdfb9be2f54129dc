#include "status/status_report.h"

#include "platform/status_protocol.h"

#include <QJsonArray>

#include <algorithm>

namespace status_report {

namespace {

namespace key = status_protocol::key;

QJsonValue OrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// A Prometheus label value.
QString Label(QString text) {
    return text.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
}

QJsonObject OnAir(const Snapshot& s) {
    QJsonObject air;
    for (const Snapshot::Item& each : s.onAir) {
        QJsonObject item{{key::kName, each.name}, {"since", Iso(each.since)}};
        if (each.kind == on_air::Kind::kPhoto && each.plannedMs > 0) {
            item["seconds_left"] =
                std::max<qint64>(0, each.plannedMs - each.since.msecsTo(s.now)) / 1000.0;
        }
        if (each.frames >= 0) {
            item["frame"] = each.frame;
            item["frames"] = each.frames;
        }
        air[on_air::Text(each.kind)] = item;
    }
    return air;
}

QJsonArray Refused(const QList<RefusedFile>& refused) {
    QJsonArray list;
    for (const auto& [file, reason] : refused) {
        list.append(QJsonObject{{"file", file}, {"reason", reason}});
    }
    return list;
}

template <typename Count>
QJsonObject Saved(const std::array<Count, kSavedBy.size()>& bytes) {
    QJsonObject saved;
    for (const auto& [how, word] : kSavedBy) {
        saved[QLatin1String(word)] = static_cast<double>(bytes[static_cast<size_t>(how)]);
    }
    return saved;
}

QJsonObject LastCycle(const Snapshot& s) {
    const Cycle& cycle = s.lastCycle;
    return {{"start", OrNull(Iso(cycle.start))},
            {key::kEnd, OrNull(Iso(cycle.end))},
            {key::kResult, OrNull(cycle.result ? Text(*cycle.result) : QString())},
            {"running", s.updating},
            {"fetched", cycle.fetched},
            {"failed", cycle.failed},
            {"bytes", static_cast<double>(cycle.bytes)},
            {key::kListingSha256, OrNull(cycle.listingSha256)},
            {"refused", Refused(cycle.refused)},
            {"saved_bytes", Saved(cycle.saved)}};
}

QJsonObject Engines(const Snapshot& s) {
    QJsonObject engines;
    for (const auto& [player, figures] : s.engines) {
        engines[QLatin1String(player)] = QJsonObject{{"renderer", OrNull(figures.renderer)},
                                                     {"page_loads", figures.pageLoads},
                                                     {"movies_failed", figures.moviesFailed},
                                                     {"recoveries", figures.recoveries}};
    }
    return engines;
}

// Writes the Prometheus families, one sample at a time.
class MetricsWriter {
  public:
    void Family(const char* name, const char* type, const char* help) {
        out_ += QStringLiteral("# HELP dravonelle_%1 %2\n# TYPE dravonelle_%1 %3\n")
                    .arg(QLatin1String(name), QLatin1String(help), QLatin1String(type));
    }
    void Sample(const QString& name, const QString& labels, double value) {
        out_ += QStringLiteral("dravonelle_") + name +
                (labels.isEmpty() ? "" : '{' + labels + '}') + ' ' +
                QString::number(value, 'g', 15) + '\n';
    }
    // A family of one sample without labels.
    void One(const char* name, const char* type, const char* help, double value) {
        Family(name, type, help);
        Sample(QLatin1String(name), {}, value);
    }
    QByteArray Text() const { return out_.toUtf8(); }

  private:
    QString out_;
};

void ItemMetrics(const Snapshot& s, MetricsWriter& out) {
    const struct {
        const char* name;
        const char* help;
        quint64 on_air::Counts::*field;
    } families[] = {
        {"items_started_total", "Items that went on air, by kind.", &on_air::Counts::started},
        {"items_ended_total", "Items that went off air, by kind.", &on_air::Counts::ended},
        {"items_failed_total", "Items that could not go on air, by kind.", &on_air::Counts::failed},
    };
    for (const auto& family : families) {
        out.Family(family.name, "counter", family.help);
        for (const auto& [kind, word] : on_air::kKinds) {
            out.Sample(QLatin1String(family.name), QStringLiteral("kind=\"%1\"").arg(word),
                       static_cast<double>(s.items[static_cast<size_t>(kind)].*family.field));
        }
    }
}

void RadioMetrics(const Snapshot& s, MetricsWriter& out) {
    out.One("radio_playing", "gauge", "1 while the background radio plays.",
            s.radio.playing ? 1 : 0);
    out.One("radio_retries_total", "counter", "Starts of the radio while its stream was away.",
            static_cast<double>(s.radio.retriesTotal));
    out.Family("radio_outage_retries", "gauge",
               "Starts of the radio since its stream went away, with the last reason; absent "
               "while it plays.");
    if (s.radio.drops > 0) {
        out.Sample("radio_outage_retries",
                   QStringLiteral("reason=\"%1\"").arg(Label(s.radio.lastReason)), s.radio.retries);
    }
}

void EngineMetrics(const Snapshot& s, MetricsWriter& out) {
    using Figures = platform::ShockwaveFlash::EngineFigures;
    const struct {
        const char* name;
        const char* help;
        int Figures::*field;
    } counters[] = {
        {"engine_page_loads_total", "Pages each Flash player's engine loaded.",
         &Figures::pageLoads},
        {"engine_movies_failed_total", "Movies each Flash player could not play.",
         &Figures::moviesFailed},
        {"engine_recoveries_total",
         "Times each Flash player's engine was found stuck or dead and started afresh.",
         &Figures::recoveries},
    };
    for (const auto& counter : counters) {
        out.Family(counter.name, "counter", counter.help);
        for (const auto& [player, figures] : s.engines) {
            out.Sample(counter.name, QStringLiteral("player=\"%1\"").arg(player),
                       figures.*counter.field);
        }
    }
}

void LatenessMetrics(const Snapshot& s, MetricsWriter& out) {
    out.Family("event_loop_lateness_seconds", "histogram",
               "How late a 100 ms tick of the window's event loop came.");
    quint64 cumulative = 0;
    for (size_t i = 0; i < kLateBounds.size(); ++i) {
        cumulative += s.lateness.counts[i];
        out.Sample("event_loop_lateness_seconds_bucket",
                   QStringLiteral("le=\"%1\"").arg(kLateBounds[i]),
                   static_cast<double>(cumulative));
    }
    cumulative += s.lateness.counts.back();
    out.Sample("event_loop_lateness_seconds_bucket", QStringLiteral("le=\"+Inf\""),
               static_cast<double>(cumulative));
    out.Sample("event_loop_lateness_seconds_sum", {}, s.lateness.sum);
    out.Sample("event_loop_lateness_seconds_count", {}, static_cast<double>(cumulative));
}

}  // namespace

QString Iso(const QDateTime& time) {
    return time.isValid() ? time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs)
                          : QString();
}

void Lateness::Add(double late) {
    size_t bucket = 0;
    while (bucket < kLateBounds.size() && late > kLateBounds[bucket]) {
        ++bucket;
    }
    ++counts[bucket];
    sum += late;
}

Verdict Judge(const Snapshot& s) {
    QStringList fault, degraded;
    fault << s.mainMovieFaults;
    if (!s.missingMainMovie.isEmpty()) {
        // With the last good one standing in, the channel plays on.
        (s.mainMovieWarnings.isEmpty() ? fault : degraded)
            << QStringLiteral("no main movie at ") + s.missingMainMovie;
    }
    degraded << s.mainMovieWarnings;
    const Cycle& cycle = s.lastCycle;
    if (cycle.result && *cycle.result != CycleResult::kOk) {
        degraded << QStringLiteral("last update cycle: ") + Text(*cycle.result);
    }
    if (s.content.freeBytes >= 0 && s.content.freeBytes < s.keptFreeBytes) {
        degraded << QStringLiteral("disk: %1 MiB free, %2 MiB kept free")
                        .arg(s.content.freeBytes >> 20)
                        .arg(s.keptFreeBytes >> 20);
    }
    if (s.pssMiB > 0.9 * s.ceilingMiB) {
        degraded << QStringLiteral("memory: %1 MiB of a %2 MiB ceiling")
                        .arg(s.pssMiB, 0, 'f', 0)
                        .arg(s.ceilingMiB);
    }
    if (s.radio.drops > 0) {
        degraded << QStringLiteral("radio stream stopped %1 times in a row").arg(s.radio.drops);
    }
    degraded << s.selfCheck;
    if (!s.asrunTrouble.isEmpty()) {
        degraded << s.asrunTrouble;
    }
    const QString state = !fault.isEmpty()      ? QStringLiteral("FAULT")
                          : s.powerOffRequested ? QStringLiteral("SCHEDULED_OFF")
                          : !degraded.isEmpty() ? QStringLiteral("DEGRADED")
                                                : QStringLiteral("OK");
    return {state, fault + degraded};
}

QJsonObject Json(const Snapshot& s) {
    const Verdict verdict = Judge(s);
    QJsonObject json;
    json[key::kVersion] = s.version;
    json["host"] = s.host;
    json["started"] = Iso(s.started);
    json[key::kUptime] = static_cast<double>(s.started.secsTo(s.now));
    json[key::kState] = verdict.state;
    json[key::kReasons] = QJsonArray::fromStringList(verdict.reasons);
    json[key::kOnAir] = OnAir(s);
    json["radio"] = QJsonObject{{"address", s.radio.address},
                                {"playing", s.radio.playing},
                                {"source", OrNull(s.radio.source)},
                                {"retries", s.radio.retries},
                                {"last_reason", OrNull(s.radio.lastReason)}};
    json[key::kLastCycle] = LastCycle(s);
    json[key::kContent] = QJsonObject{{"files", static_cast<double>(s.content.files)},
                                      {"bytes", static_cast<double>(s.content.bytes)},
                                      {key::kFreeBytes, static_cast<double>(s.content.freeBytes)},
                                      {"kept_free_bytes", static_cast<double>(s.keptFreeBytes)},
                                      {"measured", OrNull(Iso(s.content.measured))}};
    json[key::kMemory] = QJsonObject{{key::kPssMib, s.pssMiB}, {"ceiling_mib", s.ceilingMiB}};
    json["push"] = QJsonObject{{"files", static_cast<double>(s.push.files)},
                               {"last_peer", OrNull(s.push.lastPeer)},
                               {"last_file", OrNull(s.push.lastFile)},
                               {"refused", static_cast<double>(s.push.refused)}};
    json["power_off"] = QJsonObject{{"time", OrNull(s.powerOffTime)},
                                    {"next", OrNull(Iso(s.nextPowerOff))},
                                    {"requested", s.powerOffRequested}};
    json["clock"] = QJsonObject{
        {"now", Iso(s.now)},
        {"time_zone", s.timeZone},
        {"synchronised", s.clockSynchronised ? QJsonValue(*s.clockSynchronised) : QJsonValue()}};
    json["engines"] = Engines(s);
    json["warnings"] = QJsonArray::fromStringList(s.warnings);
    json["status_line"] = s.statusLine;
    return json;
}

QByteArray Metrics(const Snapshot& s) {
    const Verdict verdict = Judge(s);
    MetricsWriter out;
    ItemMetrics(s, out);
    out.Family("update_cycles_total", "counter", "Update cycles ended, by result.");
    for (const auto& [result, word] : kCycleResults) {
        out.Sample("update_cycles_total",
                   QStringLiteral("result=\"%1\"").arg(Label(QString::fromLatin1(word))),
                   static_cast<double>(s.cyclesByResult[static_cast<size_t>(result)]));
    }
    out.One("fetched_bytes_total", "counter", "Bytes of files fetched from the content site.",
            static_cast<double>(s.bytesFetched));
    out.Family("fetch_saved_bytes_total", "counter",
               "Bytes not fetched or not written again: not modified, unchanged, resumed.");
    for (const auto& [how, word] : kSavedBy) {
        out.Sample("fetch_saved_bytes_total",
                   QStringLiteral("how=\"%1\"").arg(QString::fromLatin1(word)),
                   static_cast<double>(s.bytesSaved[static_cast<size_t>(how)]));
    }
    out.Family("content_refusals_total", "counter",
               "Complete files refused as not what their names say, by reason.");
    for (const auto& [refusal, word] : content::kRefusals) {
        out.Sample("content_refusals_total",
                   QStringLiteral("reason=\"%1\"").arg(QString::fromLatin1(word)),
                   static_cast<double>(s.refusals[static_cast<size_t>(refusal)]));
    }
    out.One("pushes_total", "counter", "Files received by the push server.",
            static_cast<double>(s.push.files));
    out.One("push_refusals_total", "counter", "Push connections refused by the allow-list.",
            static_cast<double>(s.push.refused));
    out.One("memory_pss_bytes", "gauge", "Proportional set size of the program and its engines.",
            s.pssMiB >= 0 ? s.pssMiB * 1048576.0 : -1.0);
    out.One("memory_ceiling_bytes", "gauge", "Past this the program restarts at a quiet moment.",
            s.ceilingMiB * 1048576.0);
    out.One("disk_free_bytes", "gauge", "Free space of the content folder's file system.",
            static_cast<double>(s.content.freeBytes));
    out.One("content_files", "gauge", "Files in the content folder.",
            static_cast<double>(s.content.files));
    RadioMetrics(s, out);
    out.One("last_cycle_end_timestamp_seconds", "gauge", "When the last update cycle ended.",
            s.lastCycle.end.isValid() ? s.lastCycle.end.toSecsSinceEpoch() : 0);
    out.Family("build_info", "gauge", "1, with the version of the program that runs.");
    out.Sample("build_info", QStringLiteral("version=\"%1\"").arg(Label(s.version)), 1);
    out.One("start_timestamp_seconds", "gauge", "When the program started.",
            static_cast<double>(s.started.toSecsSinceEpoch()));
    out.Family("state", "gauge", "1 for the display's state.");
    for (const QString each : {"OK", "DEGRADED", "SCHEDULED_OFF", "FAULT"}) {
        out.Sample("state", QStringLiteral("state=\"%1\"").arg(each),
                   each == verdict.state ? 1 : 0);
    }
    EngineMetrics(s, out);
    LatenessMetrics(s, out);
    return out.Text();
}

}  // namespace status_report
