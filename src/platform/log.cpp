#include "platform/log.h"

#include <QDateTime>
#include <QMutex>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>

Q_LOGGING_CATEGORY(lcApp, "dravonelle.app")
Q_LOGGING_CATEGORY(lcSettings, "dravonelle.settings")
Q_LOGGING_CATEGORY(lcPresentation, "dravonelle.presentation")
Q_LOGGING_CATEGORY(lcUpdate, "dravonelle.update")
Q_LOGGING_CATEGORY(lcPush, "dravonelle.push")
Q_LOGGING_CATEGORY(lcPower, "dravonelle.power")
Q_LOGGING_CATEGORY(lcPlatform, "dravonelle.platform")

namespace platform {

namespace {

QMutex recentLock;
QStringList recent;  // newest last
QtMessageHandler previousHandler = nullptr;
constexpr int kRecentWarnings = 20;

void KeepWarning(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg) {
        QMutexLocker locked(&recentLock);
        recent << QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + ' ' +
                      QString::fromLatin1(context.category ? context.category : "default") + ": " +
                      message;
        while (recent.size() > kRecentWarnings) {
            recent.removeFirst();
        }
    }
    if (previousHandler) {
        previousHandler(type, context, message);
    }
}

int JournalPriority(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return 7;
        case QtInfoMsg:
            return 6;
        case QtWarningMsg:
            return 4;
        case QtCriticalMsg:
        case QtFatalMsg:
            return 2;
    }
    return 6;
}

const char* LevelName(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return "debug";
        case QtInfoMsg:
            return "info";
        case QtWarningMsg:
            return "warning";
        case QtCriticalMsg:
            return "critical";
        case QtFatalMsg:
            return "fatal";
    }
    return "info";
}

bool journalStream = false;

void WriteLine(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QByteArray line = FormatLogLine(
        type, context.category, message,
        LogLine{journalStream, journalStream ? QDateTime() : QDateTime::currentDateTime()});
    // One write a message, so that lines of two threads do not mix.
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, line.constData(), line.size());
    if (type == QtFatalMsg) {
        std::abort();
    }
}

}  // namespace

QByteArray FormatLogLine(QtMsgType type, const char* category, const QString& message,
                         const LogLine& how) {
    QByteArray head;
    if (how.toJournal) {
        head = '<' + QByteArray::number(JournalPriority(type)) + '>';
    } else {
        head = how.now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")).toLatin1() +
               LevelName(type) + ' ';
    }
    if (category && std::strcmp(category, "default") != 0) {
        head += QByteArray(category) + ": ";
    }
    // Every line of a message carries the head, so that journald gives each its priority.
    QByteArray out;
    const QList<QByteArray> lines = message.toUtf8().split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0 && i == lines.size() - 1 && lines[i].isEmpty()) {
            break;  // a message that ends with a newline
        }
        out += head + lines[i] + '\n';
    }
    return out;
}

bool StandardErrorIsTheJournal() {
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    if (colon <= 0) {
        return false;
    }
    bool deviceOk = false, inodeOk = false;
    const qulonglong device = stream.left(colon).toULongLong(&deviceOk);
    const qulonglong inode = stream.mid(colon + 1).toULongLong(&inodeOk);
    struct stat info = {};
    return deviceOk && inodeOk && ::fstat(STDERR_FILENO, &info) == 0 &&
           static_cast<qulonglong>(info.st_dev) == device &&
           static_cast<qulonglong>(info.st_ino) == inode;
}

void WriteLogForTheJournal() {
    journalStream = StandardErrorIsTheJournal();
    qInstallMessageHandler(WriteLine);
}

void KeepRecentWarnings() {
    static const bool installed = [] {
        previousHandler = qInstallMessageHandler(KeepWarning);
        return true;
    }();
    (void)installed;
}

QStringList RecentWarnings() {
    QMutexLocker locked(&recentLock);
    return recent;
}

}  // namespace platform
