#include "platform/log.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

// What journald reads as each level's priority, on every line of a message; and the plain
// line elsewhere.
TEST(Log, EveryLineCarriesItsPriorityOrItsTime) {
    const platform::LogLine journal{true, {}};
    const struct {
        QtMsgType type;
        const char* category;
        const char* message;
        const char* line;
    } rows[] = {
        {QtDebugMsg, "dravonelle.update", "GET x", "<7>dravonelle.update: GET x\n"},
        {QtInfoMsg, "dravonelle.app", "starts", "<6>dravonelle.app: starts\n"},
        {QtWarningMsg, "dravonelle.update", "no listing", "<4>dravonelle.update: no listing\n"},
        {QtCriticalMsg, "dravonelle.platform", "stuck", "<2>dravonelle.platform: stuck\n"},
        {QtWarningMsg, "default", "bare", "<4>bare\n"},
        {QtWarningMsg, nullptr, "bare", "<4>bare\n"},
        {QtInfoMsg, "qt.x", "one\ntwo\n", "<6>qt.x: one\n<6>qt.x: two\n"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(platform::FormatLogLine(row.type, row.category, row.message, journal), row.line)
            << row.message;
    }
    const platform::LogLine plain{false, QDateTime(QDate(2026, 12, 9), QTime(4, 5, 6, 7))};
    EXPECT_EQ(platform::FormatLogLine(QtWarningMsg, "dravonelle.update", "no listing", plain),
              "2026-12-09 04:05:06.007 warning dravonelle.update: no listing\n");
}

TEST(Log, TheJournalIsTheStreamItNames) {
    struct stat info = {};
    ASSERT_EQ(::fstat(STDERR_FILENO, &info), 0);
    const QByteArray mine = QByteArray::number(static_cast<qulonglong>(info.st_dev)) + ':' +
                            QByteArray::number(static_cast<qulonglong>(info.st_ino));
    const QByteArray kept = qgetenv("JOURNAL_STREAM");
    for (const auto& [value, journal] : {std::pair{mine, true},
                                         {mine + "1", false},
                                         {QByteArray("1:2"), false},
                                         {QByteArray("junk"), false},
                                         {QByteArray(), false}}) {
        qputenv("JOURNAL_STREAM", value);
        EXPECT_EQ(platform::StandardErrorIsTheJournal(), journal) << value.constData();
    }
    qputenv("JOURNAL_STREAM", kept);
}
