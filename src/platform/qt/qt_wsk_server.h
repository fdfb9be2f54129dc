#pragma once

#include "platform/sockets.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QStringList>
#include <QVariant>

#include <map>
#include <memory>

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
    bool Accept(int index, long requestId) override;
    QString PeerAddress(long requestId) const override;
    QByteArray GetData(int index) override;
    qint64 BytesPending(int index) override;
    bool SendData(int index, const QByteArray& data) override;
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

// An allow-list from the entries of a comma-separated setting. Malformed entries are left
// out and returned in `malformed`; a list left empty by them allows no one.
class SubnetFilter : public AddressFilter {
  public:
    explicit SubnetFilter(const QString& entries, QStringList* malformed = nullptr);
    // The filter of a setting as QSettings reads it (a value with commas is a list);
    // none when the setting is absent or empty, which allows anyone.
    static std::unique_ptr<AddressFilter> FromSetting(const QVariant& value,
                                                      QStringList* malformed);
    bool Allows(const QString& address) const override;

  private:
    QList<QPair<QHostAddress, int>> subnets_;
};

}  // namespace platform
