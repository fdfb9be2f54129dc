#pragma once

#include "platform/system_power.h"

#include <QDBusConnection>
#include <QObject>

#include <memory>

namespace platform {

struct DialUpSnapshot;

// Power-off through systemd-logind: org.freedesktop.login1.Manager.PowerOff(false).
class LogindPowerOff : public QObject, public PowerOff {
  public:
    explicit LogindPowerOff(QDBusConnection bus, int timeoutMs = 5000);
    void RequestPowerOff(std::function<void(const QString& error)> done) override;

  private:
    QDBusConnection bus_;
    int timeoutMs_;
};

// The active connections of NetworkManager, and their deactivation. Every call is
// asynchronous: the event loop never waits for the bus.
class NetworkManagerDialUp : public QObject, public DialUp {
  public:
    explicit NetworkManagerDialUp(QDBusConnection bus, int timeoutMs = 1000);
    void ActiveConnections(SnapshotDone done) override;
    void Deactivate(const ActiveConnection& connection,
                    std::function<void(const QString& error)> done) override;

  private:
    void AskAbout(const std::shared_ptr<DialUpSnapshot>& snapshot, qsizetype i);
    void AskBluetoothKind(const std::shared_ptr<DialUpSnapshot>& snapshot, qsizetype i,
                          const QString& settingsPath);

    QDBusConnection bus_;
    int timeoutMs_;
};

}  // namespace platform
