#include "platform/qt/qt_wsk_server.h"

#include "platform/qt/subnet_filter.h"

#include "platform/log.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace platform {

namespace {

// Winsock's numbers for the errors a peer can cause: the status line reports them by these.
int ErrorNumber(QAbstractSocket::SocketError error) {
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return 10061;
        case QAbstractSocket::HostNotFoundError:
            return 11001;
        case QAbstractSocket::SocketTimeoutError:
            return 10060;
        case QAbstractSocket::NetworkError:
            return 10054;
        case QAbstractSocket::AddressInUseError:
            return 10048;
        case QAbstractSocket::SocketAccessError:
            return 10013;
        default:
            return 10000 + static_cast<int>(error) + 1;
    }
}

}  // namespace

QtWskServer::QtWskServer() = default;

QtWskServer::~QtWskServer() {
    for (auto& [index, socket] : elements_) {
        if (socket) {
            socket->disconnect(this);
            socket->abort();
        }
    }
}

Result<> QtWskServer::Listen(int index, quint16 port) {
    if (!listener_) {
        listener_ = new QTcpServer(this);
        connect(listener_, &QTcpServer::newConnection, this, &QtWskServer::OnNewConnection);
    }
    listenerIndex_ = index;
    count_ = std::max(count_, index + 1);
    if (!listener_->listen(QHostAddress::Any, port)) {
        return Fail(listener_->errorString());
    }
    return {};
}

quint16 QtWskServer::LocalPort(int index) const {
    if (index == listenerIndex_ && listener_) {
        return listener_->serverPort();
    }
    QTcpSocket* socket = Socket(index);
    return socket ? socket->localPort() : 0;
}

void QtWskServer::OnNewConnection() {
    while (listener_->hasPendingConnections()) {
        QTcpSocket* socket = listener_->nextPendingConnection();
        const long id = ++nextRequestId_;
        pending_[id] = socket;
        QTimer::singleShot(0, this, [this, id] {
            if (ConnectionRequest) {
                ConnectionRequest(listenerIndex_, id);
            }
            // A request that was not accepted is refused.
            auto it = pending_.find(id);
            if (it != pending_.end()) {
                if (it->second) {
                    it->second->abort();
                    it->second->deleteLater();
                }
                pending_.erase(it);
            }
        });
    }
}

// IPv4 peers of a dual-stack listener come as IPv4-mapped IPv6 addresses.
QString QtWskServer::PeerAddress(long requestId) const {
    const auto it = pending_.find(requestId);
    return it != pending_.end() && it->second ? PlainAddress(it->second->peerAddress()).toString()
                                              : QString();
}

Result<> QtWskServer::Accept(int index, long requestId) {
    auto it = pending_.find(requestId);
    if (it == pending_.end() || !it->second) {
        return Fail(QStringLiteral("no such connection request"));
    }
    if (index == listenerIndex_) {
        return Fail(QStringLiteral("the element listens"));
    }
    QTcpSocket* socket = it->second;
    pending_.erase(it);
    if (QTcpSocket* old = Socket(index)) {
        old->disconnect(this);
        old->abort();
        old->deleteLater();
    }
    Attach(index, socket);
    return {};
}

void QtWskServer::Attach(int index, QTcpSocket* socket) {
    elements_[index] = socket;
    count_ = std::max(count_, index + 1);
    QPointer<QTcpSocket> guard(socket);
    connect(socket, &QTcpSocket::readyRead, this, [this, index, guard] {
        QTimer::singleShot(0, this, [this, index, guard] {
            if (guard && Socket(index) == guard && guard->bytesAvailable() > 0 && DataArrival) {
                DataArrival(index, guard->bytesAvailable());
            }
        });
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, index, guard] {
        QTimer::singleShot(0, this, [this, index, guard] {
            // Data that came with the close is delivered first.
            if (guard && Socket(index) == guard && guard->bytesAvailable() > 0 && DataArrival) {
                DataArrival(index, guard->bytesAvailable());
            }
            if (guard && Socket(index) == guard && CloseEvent) {
                CloseEvent(index);
            }
        });
    });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, index, guard](QAbstractSocket::SocketError error) {
                if (error == QAbstractSocket::RemoteHostClosedError) {
                    return;  // an orderly close, reported as such
                }
                const QString text = guard ? guard->errorString() : QString();
                QTimer::singleShot(0, this, [this, index, guard, error, text] {
                    if (guard && Socket(index) == guard && Error) {
                        Error(index, ErrorNumber(error), text);
                    }
                });
            });
}

QTcpSocket* QtWskServer::Socket(int index) const {
    auto it = elements_.find(index);
    return it == elements_.end() ? nullptr : it->second.data();
}

QByteArray QtWskServer::GetData(int index) {
    QTcpSocket* socket = Socket(index);
    return socket ? socket->readAll() : QByteArray();
}

qint64 QtWskServer::BytesPending(int index) {
    QTcpSocket* socket = Socket(index);
    if (!socket) {
        return 0;
    }
    if (socket->state() == QAbstractSocket::ConnectedState) {
        socket->waitForReadyRead(0);  // takes in what the system holds, without waiting
    }
    return socket->bytesAvailable();
}

Result<> QtWskServer::SendData(int index, const QByteArray& data) {
    QTcpSocket* socket = Socket(index);
    if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
        return Fail(QStringLiteral("not connected"));
    }
    if (socket->write(data) != data.size()) {
        return Fail(socket->errorString());
    }
    // Out at once: a Close that may follow drops what has not left yet.
    socket->flush();
    return {};
}

void QtWskServer::Close(int index) {
    if (index == listenerIndex_) {
        if (listener_) {
            listener_->close();
        }
        return;
    }
    if (QTcpSocket* socket = Socket(index)) {
        socket->disconnect(this);
        socket->close();
        socket->deleteLater();
        elements_[index] = nullptr;  // the element stays in the set, unconnected
    }
}

bool QtWskServer::IsConnected(int index) const {
    if (index == listenerIndex_) {
        return listener_ && listener_->isListening();
    }
    QTcpSocket* socket = Socket(index);
    return socket && socket->state() == QAbstractSocket::ConnectedState;
}

int QtWskServer::Count() const {
    return count_;
}

}  // namespace platform
