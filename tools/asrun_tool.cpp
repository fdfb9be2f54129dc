// dravonelle-asrun: checks and reports a display's as-run log.
//
//   dravonelle-asrun verify FILE...   checks the chain of lines through the files, in day
//                                     order; says where it breaks
//   dravonelle-asrun report FILE...   per day and item: times on air, seconds, first and
//                                     last time, as CSV
//
// FILE is a day's file (YYYY-MM-DD.jsonl) of the data folder's asrun/, or one fetched from
// the display's status port (/asrun/YYYY-MM-DD.jsonl). Exit status: 0 fine; 1 the chain
// breaks or a file cannot be read; 2 usage.
#include "asrun/asrun.h"
#include "platform/program_info.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace {

const char kHelp[] =
    "Usage: dravonelle-asrun verify|report FILE...\n"
    "Checks and reports a dravonelle display's as-run log.\n"
    "\n"
    "Options:\n"
    "  verify FILE...   checks the chain of lines through the files, in day order,\n"
    "                   and says where it breaks\n"
    "  report FILE...   per day and item: times on air, seconds, first and last\n"
    "                   time, as CSV on standard output\n"
    "  --help           shows this text\n"
    "  --version        shows the version\n"
    "\n"
    "FILE is a day's file (YYYY-MM-DD.jsonl) of the data folder's asrun/, or one\n"
    "fetched from the display's status port (/asrun/YYYY-MM-DD.jsonl).\n"
    "\n"
    "Exit status:\n"
    "0 fine; 1 the chain breaks or a file cannot be read; 2 usage.\n";

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered =
            platform::AnswerHelpOrVersion(argc, argv, "dravonelle-asrun", kHelp)) {
        return *answered;
    }
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    if ((command != QLatin1String("verify") && command != QLatin1String("report")) ||
        args.isEmpty()) {
        std::fprintf(stderr, "usage: dravonelle-asrun verify|report FILE...\n");
        return 2;
    }
    // Day files in day order, whatever order the shell gave them in.
    std::stable_sort(args.begin(), args.end(), [](const QString& a, const QString& b) {
        return QFileInfo(a).fileName() < QFileInfo(b).fileName();
    });
    QList<asrun::File> files;
    for (const QString& path : args) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(file.errorString()));
            return 1;
        }
        files.append({path, file.readAll()});
    }
    if (command == QLatin1String("report")) {
        const QByteArray csv = asrun::ReportHeader(false) + asrun::ReportCsv(files);
        std::fwrite(csv.constData(), 1, static_cast<size_t>(csv.size()), stdout);
        return 0;
    }
    const asrun::Verdict verdict = asrun::Verify(files);
    if (!verdict.broken.isEmpty()) {
        std::printf("%s\n", qPrintable(verdict.broken));
        return 1;
    }
    std::printf("%lld lines in %lld files: the chain holds\n",
                static_cast<long long>(verdict.lines), static_cast<long long>(files.size()));
    return 0;
}
