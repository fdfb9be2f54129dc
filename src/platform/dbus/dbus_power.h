#pragma once

#include "platform/desktop.h"
#include "platform/system_power.h"

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

#include <memory>

namespace platform {

struct DialUpSnapshot;

// Power-off through systemd-logind: org.freedesktop.login1.Manager.PowerOff(false).
class LogindPowerOff : public QObject, public PowerOff {
  public:
    explicit LogindPowerOff(QDBusConnection bus, int timeoutMs = 5000);
    void RequestPowerOff(SystemDone done) override;

  private:
    QDBusConnection bus_;
    int timeoutMs_;
};

// Whether the clock is synchronised, as systemd-timedated says (NTPSynchronized), asked
// at once and every `refreshMs`, asynchronously.
class TimedateClockSync : public QObject, public ClockSync {
  public:
    explicit TimedateClockSync(QDBusConnection bus, int refreshMs = 60000);
    std::optional<bool> Synchronised() const override { return synchronised_; }

  private:
    void Ask();
    QDBusConnection bus_;
    QTimer refresh_;
    std::optional<bool> synchronised_;
};

// The active connections of NetworkManager, and their deactivation. Every call is
// asynchronous: the event loop never waits for the bus.
class NetworkManagerDialUp : public QObject, public DialUp {
  public:
    explicit NetworkManagerDialUp(QDBusConnection bus, int timeoutMs = 1000);
    void ActiveConnections(SnapshotDone done) override;
    void Deactivate(const ActiveConnection& connection, SystemDone done) override;

  private:
    void AskAbout(const std::shared_ptr<DialUpSnapshot>& snapshot, qsizetype i);
    void AskBluetoothKind(const std::shared_ptr<DialUpSnapshot>& snapshot, qsizetype i,
                          const QString& settingsPath);

    QDBusConnection bus_;
    int timeoutMs_;
};

}  // namespace platform
