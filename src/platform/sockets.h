#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace platform {

// An indexed set of TCP sockets. Element 0 listens; accepted connections live on the
// elements that the program chooses. Every event is delivered through the event loop.
class WskServer {
  public:
    virtual ~WskServer() = default;
    // Makes element `index` listen on `port` (all addresses).
    virtual Result<> Listen(int index, quint16 port) = 0;
    virtual quint16 LocalPort(int index) const = 0;
    // Creates element `index` if it is missing and lets it carry the pending connection.
    virtual Result<> Accept(int index, long requestId) = 0;
    // The address of the peer of a pending connection, IPv4 in dotted form; "" if unknown.
    virtual QString PeerAddress(long requestId) const = 0;
    // Every byte received on element `index` and not yet taken.
    virtual QByteArray GetData(int index) = 0;
    // How many bytes GetData would give now, counting what the system has received for
    // element `index` and not yet reported; for a connection that is about to go.
    virtual qint64 BytesPending(int index) = 0;
    virtual Result<> SendData(int index, const QByteArray& data) = 0;
    virtual void Close(int index) = 0;
    // Whether element `index` exists and carries an open connection.
    virtual bool IsConnected(int index) const = 0;
    // Number of elements (the highest index plus one).
    virtual int Count() const = 0;

    std::function<void(int index, long requestId)> ConnectionRequest;
    std::function<void(int index, qint64 bytesTotal)> DataArrival;
    std::function<void(int index)> CloseEvent;
    std::function<void(int index, int number, const QString& description)> Error;
};

// Which peers may connect: IPv4 and IPv6 addresses and CIDR ranges.
class AddressFilter {
  public:
    virtual ~AddressFilter() = default;
    virtual bool Allows(const QString& address) const = 0;
};

}  // namespace platform
