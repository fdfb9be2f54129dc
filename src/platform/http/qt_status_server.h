#pragma once

#include "platform/sockets.h"
#include "platform/status_server.h"

#include <QObject>

#include <memory>

class QTcpSocket;

namespace platform {

class StatusGate;

// The status server on a Qt TCP server. Peers the allow-list refuses (none given: all
// but loopback) are closed unread; past `maxConnections` a new one is closed at once; a
// request head must come within `headTimeoutMs` and `maxHeadBytes`, or the connection goes.
// It reads one request head a connection (a monitor asks GET and nothing else), answers
// it and closes the connection: the same on every Qt release.
class QtStatusServer : public QObject, public StatusServer {
  public:
    struct Limits {
        int maxConnections = 16;
        qint64 maxHeadBytes = 8 * 1024;
        int headTimeoutMs = 10000;
    };
    explicit QtStatusServer(std::unique_ptr<AddressFilter> allow, Limits limits);
    QtStatusServer() : QtStatusServer(nullptr, Limits{}) {}
    ~QtStatusServer() override;
    Result<quint16> Listen(quint16 port, Handler handler) override;

  private:
    StatusGate* gate_;
};

// Writes a whole answer and closes the connection after it.
void WriteAnswer(QTcpSocket* socket, const HttpAnswer& answer);

}  // namespace platform
