#pragma once

#include <QObject>
#include <QTimer>

namespace platform {

// Tells the service manager how the program is doing, when it was started as a service
// (systemd's NOTIFY_SOCKET): "READY=1" once the window is shown and, when the unit sets
// WatchdogSec, "WATCHDOG=1" from a timer on the event loop at half that interval. A loop
// that hangs stops the heartbeat, and the service manager starts the program afresh.
// Outside a service it does nothing.
class ServiceWatchdog : public QObject {
  public:
    ServiceWatchdog();
    void Ready();
    // The heartbeat's interval; 0 when the service manager asked for none.
    int IntervalMs() const { return heartbeat_.isActive() ? heartbeat_.interval() : 0; }

  private:
    QTimer heartbeat_;
};

}  // namespace platform
