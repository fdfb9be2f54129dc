#pragma once

#include "platform/system_power.h"

#include <QDBusConnection>
#include <QObject>

namespace platform {

// Power-off through systemd-logind: org.freedesktop.login1.Manager.PowerOff(false).
class LogindPowerOff : public QObject, public PowerOff {
  public:
    explicit LogindPowerOff(QDBusConnection bus, int timeoutMs = 5000);
    void RequestPowerOff(std::function<void(const QString& error)> done) override;

  private:
    QDBusConnection bus_;
    int timeoutMs_;
};

// The active connections of NetworkManager, and their deactivation.
class NetworkManagerDialUp : public QObject, public DialUp {
  public:
    explicit NetworkManagerDialUp(QDBusConnection bus, int timeoutMs = 1000);
    bool ActiveConnections(QList<ActiveConnection>* out, QString* error) override;
    void Deactivate(const ActiveConnection& connection,
                    std::function<void(const QString& error)> done) override;

  private:
    QDBusConnection bus_;
    int timeoutMs_;
};

}  // namespace platform
