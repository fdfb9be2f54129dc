#include "platform/event_loop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace platform {

void PumpEventsOnce() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WakeWaiters() {
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        dispatcher->wakeUp();
    }
}

bool WaitUntil(const std::function<bool()>& done, const std::function<bool()>& closing,
               int timeoutMs) {
    QDeadlineTimer deadline =
        timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    // A timer wakes the blocking pump at the deadline, and now and then, so that a
    // condition changed without an event is still seen.
    QTimer wake;
    wake.setInterval(timeoutMs < 0 ? 250 : std::clamp(timeoutMs, 1, 250));
    QObject::connect(&wake, &QTimer::timeout, [] {});
    wake.start();
    while (!done()) {
        if (closing && closing()) {
            break;
        }
        if (deadline.hasExpired()) {
            break;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return done();
}

}  // namespace platform
