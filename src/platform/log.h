#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
Q_DECLARE_LOGGING_CATEGORY(lcPresentation)
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)
Q_DECLARE_LOGGING_CATEGORY(lcPush)
Q_DECLARE_LOGGING_CATEGORY(lcPower)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

namespace platform {

// How a log line is written to standard error. Where that is the journal (the service
// manager names the stream in JOURNAL_STREAM), each line starts with its priority as
// journald reads it ("<4>" a warning); elsewhere with the local time and the level.
struct LogLine {
    bool toJournal = false;
    QDateTime now;  // for a plain line
};
QByteArray FormatLogLine(QtMsgType type, const char* category, const QString& message,
                         const LogLine& how);
// Whether JOURNAL_STREAM ("device:inode") names the file standard error is.
bool StandardErrorIsTheJournal();
// Writes the program's log as above from now on.
void WriteLogForTheJournal();

// Keeps the last 20 warnings of the log, and hands every message on to the handler that
// was installed before.
void KeepRecentWarnings();
// Those warnings, the newest last, each with its time and category.
QStringList RecentWarnings();

}  // namespace platform
