#include "platform/log.h"

#include <QDateTime>
#include <QMutex>
#include <QStringList>

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

}  // namespace

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
