#include "platform/http/qt_status_server.h"

#include "platform/log.h"

#include <QHostAddress>
#include <QHttpServerRequest>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

namespace platform {

namespace {

QByteArray Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 429:
            return "Too Many Requests";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

// The address as the allow-list knows it: an IPv4 peer on a dual-stack socket as IPv4.
QString PeerOf(const QTcpSocket& socket) {
    QHostAddress peer = socket.peerAddress();
    bool mapped = false;
    const quint32 v4 = peer.toIPv4Address(&mapped);
    if (mapped) {
        peer = QHostAddress(v4);
    }
    return peer.toString();
}

}  // namespace

// Lets a connection through to the HTTP server only when the allow-list and the bounds
// let it, and closes it when its request head is too large or too slow.
class StatusGate : public QTcpServer {
  public:
    StatusGate(std::unique_ptr<AddressFilter> allow, QtStatusServer::Limits limits)
        : allow_(std::move(allow)), limits_(limits) {}

  protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        const QString peer = PeerOf(*socket);
        const bool allowed = allow_ ? allow_->Allows(peer) : QHostAddress(peer).isLoopback();
        if (!allowed || open_ >= limits_.maxConnections) {
            if (!allowed) {
                qCDebug(lcPlatform).noquote() << "status: refused" << peer;
            } else {
                qCWarning(lcPlatform).noquote() << "status: more than" << limits_.maxConnections
                                                << "connections; closed" << peer;
            }
            socket->abort();
            socket->deleteLater();
            return;
        }
        ++open_;
        connect(socket, &QObject::destroyed, this, [this] { --open_; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // The head must come whole, and soon; an answer starts the count again.
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        deadline->start(limits_.headTimeoutMs);
        connect(deadline, &QTimer::timeout, socket, [socket] { socket->abort(); });
        auto received = std::make_shared<qint64>(0);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
            *received += socket->bytesAvailable();
            if (*received > limits_.maxHeadBytes) {
                // Nothing more of it is read: the answer goes, then the connection.
                disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
                WriteAnswer(socket, HttpAnswer::Text(400, "request head too large"));
            }
        });
        connect(socket, &QTcpSocket::bytesWritten, deadline, [deadline, received, this] {
            *received = 0;
            deadline->start(limits_.headTimeoutMs);
        });
        addPendingConnection(socket);
        emit newConnection();
    }

  private:
    std::unique_ptr<AddressFilter> allow_;
    QtStatusServer::Limits limits_;
    int open_ = 0;
};

void WriteAnswer(QTcpSocket* socket, const HttpAnswer& answer) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' +
                      Reason(answer.status) + "\r\nContent-Type: " + answer.type +
                      "\r\nContent-Length: " + QByteArray::number(answer.body.size()) +
                      "\r\nCache-Control: no-store\r\nConnection: close\r\n";
    for (const auto& [name, value] : answer.headers) {
        head += name + ": " + value + "\r\n";
    }
    head += "\r\n";
    socket->write(head + answer.body);
    socket->disconnectFromHost();
}

QtStatusServer::QtStatusServer(std::unique_ptr<AddressFilter> allow, Limits limits)
    : gate_(new StatusGate(std::move(allow), limits)) {
    gate_->setParent(this);
}

QtStatusServer::~QtStatusServer() = default;

Result<quint16> QtStatusServer::Listen(quint16 port, Handler handler) {
    handler_ = std::move(handler);
    if (!gate_->listen(QHostAddress::Any, port)) {
        return Fail(gate_->errorString());
    }
    bind(gate_);
    return gate_->serverPort();
}

void QtStatusServer::Handle(const QHttpServerRequest& request, const Reply& answer) {
    if (request.method() != QHttpServerRequest::Method::Get) {
        answer(HttpAnswer::Text(405, "only GET"));
        return;
    }
    if (!handler_) {
        answer(HttpAnswer::Text(503, "not ready"));
        return;
    }
    HttpRequest asked;
    asked.path = request.url().path();
    for (const auto& [key, value] : QUrlQuery(request.url()).queryItems(QUrl::FullyDecoded)) {
        asked.query.insert(key, value);
    }
    handler_(asked, answer);
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)

namespace {

void WriteAnswer(QHttpServerResponder& responder, const HttpAnswer& answer) {
    QHttpHeaders headers;
    headers.append(QHttpHeaders::WellKnownHeader::ContentType, answer.type);
    headers.append(QHttpHeaders::WellKnownHeader::CacheControl, "no-store");
    headers.append(QHttpHeaders::WellKnownHeader::Connection, "close");
    for (const auto& [name, value] : answer.headers) {
        headers.append(name, value);
    }
    responder.write(answer.body, headers,
                    static_cast<QHttpServerResponder::StatusCode>(answer.status));
}

}  // namespace

bool QtStatusServer::handleRequest(const QHttpServerRequest& request,
                                   QHttpServerResponder& responder) {
    // The answer may come later: the responder goes with it.
    auto kept = std::make_shared<QHttpServerResponder>(std::move(responder));
    Handle(request, [kept](const HttpAnswer& answer) { WriteAnswer(*kept, answer); });
    return true;
}

void QtStatusServer::missingHandler(const QHttpServerRequest&, QHttpServerResponder& responder) {
    WriteAnswer(responder, HttpAnswer::Text(404, "not found"));
}

#else

bool QtStatusServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    QPointer<QTcpSocket> guarded(socket);
    Handle(request, [guarded](const HttpAnswer& answer) {
        if (guarded) {
            WriteAnswer(guarded, answer);
        }
    });
    return true;
}

void QtStatusServer::missingHandler(const QHttpServerRequest&, QTcpSocket* socket) {
    WriteAnswer(socket, HttpAnswer::Text(404, "not found"));
}

#endif

}  // namespace platform
