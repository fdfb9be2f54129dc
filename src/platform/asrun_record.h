#pragma once

#include <QString>

// The fields of an as-run line, for the log's writer and its readers.
namespace asrun {

// Each line's "event": an item's start, its end, and the sha256 of its file when that was
// known only after the end.
namespace event {
inline const QString kStart = QStringLiteral("start");
inline const QString kEnd = QStringLiteral("end");
inline const QString kFile = QStringLiteral("file");
}  // namespace event

// How a content file last came, its "origin".
namespace origin {
inline const QString kSite = QStringLiteral("site");  // a cycle fetched it; with the listing
inline const QString kPush = QStringLiteral("push");
inline const QString kImport = QStringLiteral("import");
inline const QString kUnknown = QStringLiteral("unknown");
}  // namespace origin

namespace field {
inline const QString kEvent = QStringLiteral("event");
inline const QString kId = QStringLiteral("id");
inline const QString kKind = QStringLiteral("kind");  // an on-air kind's word
inline const QString kName = QStringLiteral("name");
inline const QString kFile = QStringLiteral("file");  // the drive path; null: none
inline const QString kOrigin = QStringLiteral("origin");
inline const QString kListing = QStringLiteral("listing");
inline const QString kStart = QStringLiteral("start");      // a stamp
inline const QString kPlanned = QStringLiteral("planned");  // seconds
inline const QString kEnd = QStringLiteral("end");          // a stamp
inline const QString kSeconds = QStringLiteral("seconds");
inline const QString kOutcome = QStringLiteral("outcome");  // an outcome's word
inline const QString kReason = QStringLiteral("reason");
inline const QString kFramesShown = QStringLiteral("frames_shown");
inline const QString kFramesTotal = QStringLiteral("frames_total");
inline const QString kAt = QStringLiteral("at");  // of a "file" line
inline const QString kFileSha256 = QStringLiteral("file_sha256");
inline const QString kPrev = QStringLiteral("prev");  // the previous line's sha256
}  // namespace field

}  // namespace asrun
