#pragma once

#include "platform/sockets.h"
#include "platform/status_server.h"

#include <QAbstractHttpServer>
#include <QHttpServerResponder>

#include <functional>

#include <memory>

namespace platform {

class StatusGate;

// The status server on Qt's HTTP server. Peers the allow-list refuses (none given: all
// but loopback) are closed unread; past `maxConnections` a new one is closed at once; a
// request head must come within `headTimeoutMs` and `maxHeadBytes`, or the connection goes.
class QtStatusServer : public QAbstractHttpServer, public StatusServer {
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

  protected:
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    // From Qt 6.8 a request comes with its responder instead of its socket.
    bool handleRequest(const QHttpServerRequest& request, QHttpServerResponder& responder) override;
    void missingHandler(const QHttpServerRequest& request,
                        QHttpServerResponder& responder) override;
#else
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;
#endif

  private:
    // Answers `request` through `answer`, now or later.
    void Handle(const QHttpServerRequest& request, const Reply& answer);

    StatusGate* gate_;
    Handler handler_;
};

// Writes a whole answer and closes the connection after it.
void WriteAnswer(QTcpSocket* socket, const HttpAnswer& answer);

}  // namespace platform
