#include "platform/systemd/service_watchdog.h"

#include "platform/log.h"

#include <systemd/sd-daemon.h>

#include <algorithm>

namespace platform {

ServiceWatchdog::ServiceWatchdog() {
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) {
        return;
    }
    const int interval = static_cast<int>(std::clamp<uint64_t>(usec / 2000, 1, 60 * 60 * 1000));
    heartbeat_.setTimerType(Qt::PreciseTimer);
    connect(&heartbeat_, &QTimer::timeout, this, [] { sd_notify(0, "WATCHDOG=1"); });
    heartbeat_.start(interval);
    sd_notify(0, "WATCHDOG=1");
    qCInfo(lcApp) << "service watchdog: a heartbeat every" << interval << "ms";
}

void ServiceWatchdog::Ready() {
    sd_notify(0, "READY=1");
}

}  // namespace platform
