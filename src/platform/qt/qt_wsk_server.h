#pragma once

#include "platform/sockets.h"

#include <QObject>
#include <QPointer>

#include <map>

class QTcpServer;
class QTcpSocket;

namespace platform {

// The socket set on QTcpServer and QTcpSocket. Events are queued, so that a handler
// never runs inside another handler's socket call; a data notice is delivered only while
// data is waiting.
class QtWskServer : public QObject, public WskServer {
  public:
    QtWskServer();
    ~QtWskServer() override;

    Result<> Listen(int index, quint16 port) override;
    quint16 LocalPort(int index) const override;
    Result<> Accept(int index, long requestId) override;
    QString PeerAddress(long requestId) const override;
    QByteArray GetData(int index) override;
    qint64 BytesPending(int index) override;
    Result<> SendData(int index, const QByteArray& data) override;
    void Close(int index) override;
    bool IsConnected(int index) const override;
    int Count() const override;

  private:
    void OnNewConnection();
    void Attach(int index, QTcpSocket* socket);
    QTcpSocket* Socket(int index) const;

    QTcpServer* listener_ = nullptr;
    int listenerIndex_ = 0;
    std::map<int, QPointer<QTcpSocket>> elements_;
    std::map<long, QPointer<QTcpSocket>> pending_;
    long nextRequestId_ = 0;
    int count_ = 1;  // element 0 exists from the start
};

}  // namespace platform
