#pragma once

#include <QString>

#include <functional>

namespace platform {

// Asks the operating system to switch the computer off, without confirmation. Returns
// at once; `done` runs later on the event loop with an empty text on success, else
// with the error's name and message.
class PowerOff {
  public:
    virtual ~PowerOff() = default;
    virtual void RequestPowerOff(std::function<void(const QString& error)> done) = 0;
};

// One active network connection as the system reports it.
struct ActiveConnection {
    QString path;           // the system's handle for it
    QString id;             // its name
    QString type;           // "gsm", "cdma", "pppoe", "adsl", "bluetooth", "802-3-ethernet", ...
    QString bluetoothKind;  // for "bluetooth": "dun" or "panu"
};

// The system's network connections, for the dial-up hang-up.
class DialUp {
  public:
    virtual ~DialUp() = default;
    // What a snapshot brings: the active connections, or (ok false) why there are none.
    using SnapshotDone = std::function<void(bool ok, const QList<ActiveConnection>& connections,
                                            const QString& error)>;
    // Takes a snapshot of the active connections and hands it to `done` through the event
    // loop; returns at once.
    virtual void ActiveConnections(SnapshotDone done) = 0;
    // Asks for one connection to go down; returns at once.
    virtual void Deactivate(const ActiveConnection& connection,
                            std::function<void(const QString& error)> done) = 0;
};

}  // namespace platform
