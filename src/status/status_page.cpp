#include "status/status_page.h"

#include "platform/status_protocol.h"

#include <QJsonArray>
#include <QLocale>

#include <cmath>

namespace status_page {

namespace {

namespace key = status_protocol::key;

QByteArray Escape(const QString& text) {
    return text.toHtmlEscaped().toUtf8();
}

// An ISO time of the answer as the display's local time, with how long ago it was.
QString When(const QString& iso, const QDateTime& now) {
    const QDateTime at = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!at.isValid()) {
        return QStringLiteral("never");
    }
    const QDateTime local = at.toLocalTime();
    const QString time = local.date() == now.date()
                             ? local.toString(QStringLiteral("HH:mm:ss"))
                             : local.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return time + QStringLiteral(" (") + Ago(at.secsTo(now)) + ')';
}

QString MiB(double bytes) {
    return QString::number(bytes / 1048576.0, 'f', 0) + QStringLiteral(" MiB");
}

QString Name(QString path) {
    return path.mid(std::max(path.lastIndexOf('\\'), path.lastIndexOf('/')) + 1);
}

}  // namespace

QString Ago(qint64 seconds) {
    const bool ahead = seconds < 0;
    const qint64 s = std::abs(seconds);
    const QString span = s < 120      ? QStringLiteral("%1 s").arg(s)
                         : s < 7200   ? QStringLiteral("%1 min").arg(s / 60)
                         : s < 172800 ? QStringLiteral("%1 h").arg(s / 3600)
                                      : QStringLiteral("%1 d").arg(s / 86400);
    return ahead ? QStringLiteral("in ") + span : span + QStringLiteral(" ago");
}

QByteArray Page(const QJsonObject& status, const QDateTime& now) {
    const QString host = status["host"].toString();
    const QString state = status[key::kState].toString();
    QByteArray rows;
    const auto row = [&rows](const char* id, const QString& label, const QByteArray& value) {
        rows += QByteArray("<tr id=\"") + id + "\"><th>" + Escape(label) + "</th><td>" + value +
                "</td></tr>";
    };

    QByteArray reasons;
    for (const QJsonValue reason : status[key::kReasons].toArray()) {
        reasons += "<li>" + Escape(reason.toString()) + "</li>";
    }
    row("state-row", QStringLiteral("State"),
        "<span id=\"state\" class=\"" + Escape(state) + "\">" + Escape(state) + "</span>" +
            (reasons.isEmpty() ? QByteArray() : "<ul id=\"reasons\">" + reasons + "</ul>"));

    QByteArray air;
    const QJsonObject onAir = status[key::kOnAir].toObject();
    for (auto it = onAir.begin(); it != onAir.end(); ++it) {
        const QJsonObject item = it.value().toObject();
        QString what = it.key() + QStringLiteral(": ") + Name(item[key::kName].toString());
        if (item.contains("frames") && item["frames"].toInt() > 0) {
            what += QStringLiteral(", frame %1 of %2")
                        .arg(item["frame"].toInt())
                        .arg(item["frames"].toInt());
        }
        if (item.contains("seconds_left")) {
            what += QStringLiteral(", %1 s left").arg(item["seconds_left"].toDouble(), 0, 'f', 0);
        }
        air += "<li>" + Escape(what) + " <small>since " +
               Escape(When(item["since"].toString(), now)) + "</small></li>";
    }
    row("on-air", QStringLiteral("On air"), air.isEmpty() ? "nothing" : "<ul>" + air + "</ul>");

    const QJsonObject cycle = status[key::kLastCycle].toObject();
    QString cycleText =
        cycle["running"].toBool() ? QStringLiteral("running now; last ") : QString();
    cycleText += cycle[key::kEnd].isString() ? QStringLiteral("%1 ended %2: %3 fetched, %4 failed")
                                                   .arg(cycle[key::kResult].toString(),
                                                        When(cycle[key::kEnd].toString(), now))
                                                   .arg(cycle["fetched"].toInt())
                                                   .arg(cycle["failed"].toInt())
                                             : QStringLiteral("none yet");
    row("last-cycle", QStringLiteral("Last update"), Escape(cycleText));
    QByteArray refused;
    for (const QJsonValue each : cycle["refused"].toArray()) {
        refused +=
            "<li>" + Escape(each["file"].toString() + ": " + each["reason"].toString()) + "</li>";
    }
    if (!refused.isEmpty()) {
        row("refused", QStringLiteral("Refused files"), "<ul>" + refused + "</ul>");
    }

    const QJsonObject content = status[key::kContent].toObject();
    row("disk", QStringLiteral("Disk free"),
        Escape(QStringLiteral("%1 (kept free: %2); %3 files, %4")
                   .arg(MiB(content[key::kFreeBytes].toDouble()),
                        MiB(content["kept_free_bytes"].toDouble()))
                   .arg(content["files"].toInt())
                   .arg(MiB(content["bytes"].toDouble()))));
    const QJsonObject memory = status[key::kMemory].toObject();
    const double pss = memory[key::kPssMib].toDouble();
    row("memory", QStringLiteral("Memory"),
        Escape(QStringLiteral("%1 of %2 MiB")
                   .arg(pss >= 0 ? QString::number(pss, 'f', 0) : QStringLiteral("?"))
                   .arg(memory["ceiling_mib"].toInt())));
    const QJsonObject radio = status["radio"].toObject();
    row("radio", QStringLiteral("Radio"),
        Escape(radio["playing"].toBool()      ? QStringLiteral("playing")
               : radio["retries"].toInt() > 0 ? QStringLiteral("away, %1 retries: %2")
                                                    .arg(radio["retries"].toInt())
                                                    .arg(radio["last_reason"].toString())
                                              : QStringLiteral("off")));
    const QJsonObject off = status["power_off"].toObject();
    row("power-off", QStringLiteral("Power off"),
        Escape(off["next"].isString() ? When(off["next"].toString(), now)
                                      : QStringLiteral("not set")));
    row("uptime", QStringLiteral("Up"),
        Escape(QStringLiteral("since ") + When(status["started"].toString(), now)));
    row("version", QStringLiteral("Version"), Escape(status[key::kVersion].toString()));

    QByteArray warnings;
    const QJsonArray recent = status["warnings"].toArray();
    for (qsizetype i = recent.size() - 1; i >= 0 && i >= recent.size() - 5; --i) {
        // "2026-12-09T04:05:06.007 category: text": the time as the rest of the page has it.
        const QString line = recent[i].toString();
        const QString stamp = line.section(' ', 0, 0);
        warnings += "<li>" + Escape(When(stamp, now) + ' ' + line.section(' ', 1)) + "</li>";
    }
    row("warnings", QStringLiteral("Last warnings"),
        warnings.isEmpty() ? "none" : "<ul>" + warnings + "</ul>");

    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<meta http-equiv=\"refresh\" content=\"10\"><title>" +
           Escape(host + QStringLiteral(" ") + state) +
           "</title><style>"
           "body{font-family:sans-serif;background:#222;color:#eee;margin:0 auto;padding:1em;"
           "max-width:60em;line-height:1.4}"
           "h1{font-size:1.4em;margin:0 0 .5em}"
           "img{width:100%;height:auto;border:1px solid #555}"
           "table{border-collapse:collapse;width:100%;margin:.5em 0}"
           "th{text-align:left;vertical-align:top;padding:.3em 1em .3em 0;white-space:nowrap;"
           "color:#aaa;font-weight:normal}"
           "td{padding:.3em 0;overflow-wrap:anywhere}"
           "tr{border-bottom:1px solid #333}ul{margin:0;padding-left:1.1em}small{color:#aaa}"
           ".OK{color:#6c6}.DEGRADED{color:#ec4}.FAULT{color:#e55}.SCHEDULED_OFF{color:#9ad}"
           "#state{font-weight:bold}a{color:#9cf}"
           "@media (max-width:30em){th{display:block;padding-bottom:0}td{display:block}}"
           "</style></head><body><h1>" +
           Escape(host) + "</h1><img src=\"/screenshot.jpg?w=960\" alt=\"the picture\"><table>" +
           rows + "</table><p id=\"status-line\">" + Escape(status["status_line"].toString()) +
           "</p><p><small>" + Escape(now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t"))) +
           ", refreshed every 10 s. <a href=\"/status\">/status</a> <a "
           "href=\"/metrics\">/metrics</a></small></p></body></html>\n";
}

}  // namespace status_page
