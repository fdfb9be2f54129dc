#pragma once

#include "platform/result.h"

#include <QList>
#include <QString>

#include <functional>

namespace platform {

// What a request to the system brings, through the event loop: done, or the error's name
// and message.
using SystemDone = std::function<void(const Result<>& done)>;

// Asks the operating system to switch the computer off, without confirmation. Returns
// at once.
class PowerOff {
  public:
    virtual ~PowerOff() = default;
    virtual void RequestPowerOff(SystemDone done) = 0;
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
    // What a snapshot brings: the active connections, or why there are none.
    using SnapshotDone = std::function<void(const Result<QList<ActiveConnection>>& connections)>;
    // Takes a snapshot of the active connections and hands it to `done` through the event
    // loop; returns at once.
    virtual void ActiveConnections(SnapshotDone done) = 0;
    // Asks for one connection to go down; returns at once.
    virtual void Deactivate(const ActiveConnection& connection, SystemDone done) = 0;
};

}  // namespace platform
