// dravonelle-fleet: asks every display of a station at once how it is, over its status
// port, and prints a table.
//
//   dravonelle-fleet --hosts FILE [--host HOST[:PORT]]... [--port N] [--timeout S]
//                    [--shots DIR]
//
// A hosts file has one HOST[:PORT] a line ("#" starts a comment); PORT is the display's
// status port (default --port, 8101). A display is "behind" when the listing it last read
// differs from the one most displays read. With --shots each display's screenshot is
// saved in DIR as HOST_PORT.jpg, and all of them in one contact sheet, contact.jpg.
// Exit status: 0 every display answered and is OK; 1 one is not OK or did not answer;
// 2 usage.
//
//   dravonelle-fleet --asrun YYYY-MM-DD --hosts FILE
//
// gathers every display's as-run log of that day into one CSV (the report of
// dravonelle-asrun, with a display column first), and verifies each display's chain; a
// display whose chain breaks or that has no log of the day is named on stderr, and the
// exit status is then 1.
#include "asrun/asrun.h"
#include "hosts_file.h"
#include "platform/on_air.h"
#include "platform/program_info.h"
#include "platform/qt/drive_file_system.h"
#include "platform/status_protocol.h"

#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QTimer>

#include <cstdio>
#include <map>

namespace {

namespace key = status_protocol::key;

struct Member : hosts::Display {
    Member() = default;
    explicit Member(const hosts::Display& at) : hosts::Display(at) {}
    QJsonObject status;
    QString error;  // why it did not answer
    QImage shot;
    QList<asrun::File> asrun;  // the day's file, and the next day's when there is one
    QString asrunError;
};

QString Age(const QString& iso) {
    const QDateTime when = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!when.isValid()) {
        return QStringLiteral("-");
    }
    const qint64 s = when.secsTo(QDateTime::currentDateTime());
    return s < 120    ? QStringLiteral("%1 s").arg(s)
           : s < 7200 ? QStringLiteral("%1 min").arg(s / 60)
                      : QStringLiteral("%1 h").arg(s / 3600);
}

QString OnAir(const QJsonObject& air) {
    QStringList items;
    using on_air::Kind;
    // What fills the screen: the first of these on air.
    for (const Kind each : {Kind::kInsert, Kind::kFilm, Kind::kPhoto, Kind::kSound, Kind::kMain}) {
        const QString kind = on_air::Text(each);
        if (air.contains(kind)) {
            QString name = air[kind].toObject()[key::kName].toString();
            name = name.mid(std::max(name.lastIndexOf('\\'), name.lastIndexOf('/')) + 1);
            items << kind + '=' + name;
            break;
        }
    }
    if (air.contains(on_air::Text(Kind::kRadio))) {
        items << QStringLiteral("radio");
    }
    return items.isEmpty() ? QStringLiteral("-") : items.join(' ');
}

// What the command line asks for.
struct Request {
    int timeout = 10;  // seconds
    QList<Member> displays;
    QString shots;   // where the screenshots go; empty: none
    QDate asrunDay;  // the day whose as-run logs are gathered; invalid: the status table
    QString site;    // the content site's address; empty: compare the displays
};

platform::Result<Request> ReadRequest(QCommandLineParser& parser, const QGuiApplication& app) {
    parser.setApplicationDescription(
        "Asks every display how it is, and prints a table: state, what is on air, the last\n"
        "cycle, whether its content is behind, disk free, memory, uptime and version.\n"
        "Exits 0 when every display answers and is OK, 1 otherwise, 2 on a usage error.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({"hosts", "A file of displays, HOST[:PORT] a line.", "file"});
    parser.addOption({"host", "A display, HOST[:PORT].", "host"});
    const QString defaultPort = QString::number(status_protocol::kPort);
    parser.addOption({"port", "The status port where none is given (" + defaultPort + ").", "port",
                      defaultPort});
    parser.addOption({"timeout", "Seconds to wait for each answer (10).", "seconds", "10"});
    parser.addOption({"shots", "Saves each screenshot and a contact sheet in DIR.", "dir"});
    parser.addOption({"asrun", "Gathers every display's as-run log of DATE as CSV.", "date"});
    parser.addOption({"site",
                      "The content site's address, as the displays have it: a display is "
                      "behind when its listing differs from the site's (without it, from "
                      "the one most displays read).",
                      "url"});
    parser.process(app);
    Request request;
    bool ok = false;
    const int port = parser.value("port").toInt(&ok);
    request.timeout = parser.value("timeout").toInt(&ok);
    if (!ok || port <= 0 || port > 65535 || request.timeout <= 0) {
        return platform::Fail("--port and --timeout take positive numbers");
    }
    if (parser.isSet("hosts")) {
        const auto listed = hosts::ReadFile(parser.value("hosts"), static_cast<quint16>(port));
        if (!listed) {
            return listed.failure();
        }
        for (const hosts::Display& display : *listed) {
            request.displays.append(Member(display));
        }
    }
    for (const QString& host : parser.values("host")) {
        const auto display = hosts::Parse(host, static_cast<quint16>(port));
        if (!display) {
            return platform::Fail("--host " + display.reason());
        }
        request.displays.append(Member(*display));
    }
    if (request.displays.isEmpty()) {
        return platform::Fail("no display named (--hosts FILE or --host HOST)");
    }
    request.shots = parser.value("shots");
    request.asrunDay = QDate::fromString(parser.value("asrun"), Qt::ISODate);
    if (parser.isSet("asrun") && !request.asrunDay.isValid()) {
        return platform::Fail("--asrun takes a day, YYYY-MM-DD");
    }
    request.site = parser.value("site");
    return request;
}

// Asks every display at once what `request` wants to know, and the site for its listing;
// returns the digest of the site's listing, as a display takes it (empty: not asked).
QString AskAll(Request& request) {
    QNetworkAccessManager network;
    network.setTransferTimeout(request.timeout * 1000);
    int pending = 0;
    // Every answer is handled as it comes; the last one ends the wait.
    const auto get = [&](const QUrl& url, auto handle) {
        ++pending;
        QNetworkReply* reply = network.get(QNetworkRequest(url));
        QObject::connect(reply, &QNetworkReply::finished, [&, reply, handle] {
            handle(reply);
            reply->deleteLater();
            if (--pending == 0) {
                QGuiApplication::quit();
            }
        });
    };
    const auto ask = [&](const Member& d, const QString& path, auto handle) {
        get(QUrl("http://" + d.Name() + path), handle);
    };
    QString siteListing;
    const QDate asrunDay = request.asrunDay;
    if (!request.site.isEmpty() && !asrunDay.isValid()) {
        get(QUrl(request.site + QStringLiteral("dir.php?a=0")), [&](QNetworkReply* reply) {
            const QByteArray body = reply->readAll();
            if (reply->error() != QNetworkReply::NoError) {
                std::fprintf(stderr,
                             "dravonelle-fleet: the site's listing cannot be read (%s): behind "
                             "compares the displays with each other\n",
                             qPrintable(reply->errorString()));
            } else {
                siteListing =
                    QString::fromLatin1(QCryptographicHash::hash(platform::FirstItem(body).toUtf8(),
                                                                 QCryptographicHash::Sha256)
                                            .toHex());
            }
        });
    }
    for (Member& d : request.displays) {
        if (asrunDay.isValid()) {
            for (const QDate day : {asrunDay, asrunDay.addDays(1)}) {
                const QString name = asrun::DayFileName(day);
                ask(d, "/asrun/" + name, [&d, name, first = day == asrunDay](QNetworkReply* reply) {
                    if (reply->error() == QNetworkReply::NoError) {
                        d.asrun.append({name, reply->readAll()});
                    } else if (first) {
                        d.asrunError = reply->errorString();
                    }
                });
            }
            continue;
        }
        ask(d, "/status", [&d](QNetworkReply* reply) {
            if (reply->error() != QNetworkReply::NoError) {
                d.error = reply->errorString();
                return;
            }
            QJsonParseError parsed{};
            d.status = QJsonDocument::fromJson(reply->readAll(), &parsed).object();
            if (parsed.error != QJsonParseError::NoError) {
                d.error = QStringLiteral("not a status: ") + parsed.errorString();
            }
        });
        if (!request.shots.isEmpty()) {
            ask(d, "/screenshot.jpg?w=480", [&d](QNetworkReply* reply) {
                if (reply->error() == QNetworkReply::NoError) {
                    d.shot = QImage::fromData(reply->readAll(), "JPG");
                }
            });
        }
    }
    // A bound of its own.
    QTimer::singleShot((request.timeout + 5) * 1000, QCoreApplication::instance(),
                       &QCoreApplication::quit);
    QGuiApplication::exec();
    return siteListing;
}

// Prints the displays' as-run logs of `day` as one CSV; 0 when every chain holds.
int PrintAsRun(QList<Member>& displays, QDate day) {
    QByteArray csv = asrun::ReportHeader(true);
    bool allVerified = true;
    for (Member& d : displays) {
        std::sort(d.asrun.begin(), d.asrun.end(),
                  [](const asrun::File& a, const asrun::File& b) { return a.name < b.name; });
        const asrun::Verdict verdict = asrun::Verify(d.asrun);
        const QString trouble = !d.asrunError.isEmpty() ? d.asrunError
                                : d.asrun.isEmpty()     ? QStringLiteral("no answer")
                                                        : verdict.broken;
        if (!trouble.isEmpty()) {
            allVerified = false;
            std::fprintf(stderr, "%s: %s\n", qPrintable(d.Name()), qPrintable(trouble));
        }
        if (d.asrunError.isEmpty()) {
            csv += asrun::ReportCsv(d.asrun, d.Name(), day);
        }
    }
    std::fwrite(csv.constData(), 1, static_cast<size_t>(csv.size()), stdout);
    return allVerified ? 0 : 1;
}

// The site's listing, or else the one most displays read.
QString CommonListing(const QList<Member>& displays, const QString& siteListing) {
    if (!siteListing.isEmpty()) {
        return siteListing;
    }
    std::map<QString, int> listings;
    for (const Member& d : displays) {
        const QString sha = d.status[key::kLastCycle].toObject()[key::kListingSha256].toString();
        if (!sha.isEmpty()) {
            ++listings[sha];
        }
    }
    QString common;
    int most = 0;
    for (const auto& [sha, count] : listings) {
        if (count > most) {
            most = count;
            common = sha;
        }
    }
    return common;
}

// Prints the status table; whether every display answered and is OK.
bool PrintTable(const QList<Member>& displays, const QString& common) {
    std::printf("%-24s %-13s %-30s %-16s %-7s %9s %9s %9s %s\n", "display", "state", "on air",
                "last cycle", "behind", "disk free", "memory", "uptime", "version");
    bool allOk = true;
    for (const Member& d : displays) {
        if (!d.error.isEmpty() || d.status.isEmpty()) {
            allOk = false;
            std::printf("%-24s %-13s %s\n", qPrintable(d.Name()), "NO ANSWER",
                        qPrintable(d.error.isEmpty() ? QStringLiteral("no answer") : d.error));
            continue;
        }
        const QJsonObject& s = d.status;
        const QString state = s[key::kState].toString();
        allOk = allOk && state == QLatin1String("OK");
        const QJsonObject cycle = s[key::kLastCycle].toObject();
        const QString sha = cycle[key::kListingSha256].toString();
        const QString behind = sha.isEmpty()   ? QStringLiteral("?")
                               : sha == common ? QStringLiteral("no")
                                               : QStringLiteral("YES");
        const double free = s[key::kContent].toObject()[key::kFreeBytes].toDouble();
        const double pss = s[key::kMemory].toObject()[key::kPssMib].toDouble();
        std::printf(
            "%-24s %-13s %-30s %-16s %-7s %6.0f MiB %5.0f MiB %9s %s\n", qPrintable(d.Name()),
            qPrintable(state), qPrintable(OnAir(s[key::kOnAir].toObject()).left(30)),
            qPrintable(Age(cycle[key::kEnd].toString()) + ' ' + cycle[key::kResult].toString()),
            qPrintable(behind), free / 1048576.0, pss,
            qPrintable(QStringLiteral("%1 h").arg(s[key::kUptime].toDouble() / 3600, 0, 'f', 1)),
            qPrintable(s[key::kVersion].toString()));
        for (const QJsonValue reason : s[key::kReasons].toArray()) {
            std::printf("%-24s   %s\n", "", qPrintable(reason.toString()));
        }
    }
    return allOk;
}

// Saves each display's screenshot in `dir`, and all of them in one contact sheet.
void SaveShots(const QList<Member>& displays, const QString& dir) {
    QDir().mkpath(dir);
    const int columns = 4, w = 480, h = 270, label = 24;
    const int rows = static_cast<int>((displays.size() + columns - 1) / columns);
    QImage sheet(columns * w, rows * (h + label), QImage::Format_RGB32);
    sheet.fill(QColor(30, 30, 30));
    QPainter painter(&sheet);
    painter.setPen(Qt::white);
    for (qsizetype i = 0; i < displays.size(); ++i) {
        const Member& d = displays[i];
        const QRect cell(static_cast<int>(i % columns) * w,
                         static_cast<int>(i / columns) * (h + label), w, h + label);
        if (!d.shot.isNull()) {
            d.shot.save(dir + '/' + d.host + '_' + QString::number(d.port) + ".jpg");
            painter.drawImage(QRect(cell.topLeft(), QSize(w, h)),
                              d.shot.scaled(w, h, Qt::KeepAspectRatio));
        }
        painter.drawText(cell.adjusted(4, h, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         d.Name() + "  " +
                             (d.status.isEmpty() ? QStringLiteral("NO ANSWER")
                                                 : d.status[key::kState].toString()));
    }
    painter.end();
    sheet.save(dir + "/contact.jpg");
}

}  // namespace

int main(int argc, char** argv) {
    // The contact sheet is drawn into a picture: no screen is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(platform::kVersion));
    QCommandLineParser parser;
    auto request = ReadRequest(parser, app);
    if (!request) {
        std::fprintf(stderr, "dravonelle-fleet: %s\n", qPrintable(request.reason()));
        return 2;
    }
    const QString siteListing = AskAll(*request);
    if (request->asrunDay.isValid()) {
        return PrintAsRun(request->displays, request->asrunDay);
    }
    const bool allOk = PrintTable(request->displays, CommonListing(request->displays, siteListing));
    if (!request->shots.isEmpty()) {
        SaveShots(request->displays, request->shots);
    }
    return allOk ? 0 : 1;
}
