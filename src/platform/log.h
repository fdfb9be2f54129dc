#pragma once

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

// Keeps the last 20 warnings of the log, and hands every message on to the handler that
// was installed before.
void KeepRecentWarnings();
// Those warnings, the newest last, each with its time and category.
QStringList RecentWarnings();

}  // namespace platform
