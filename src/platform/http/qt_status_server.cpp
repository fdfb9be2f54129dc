#include "platform/http/qt_status_server.h"

#include "platform/log.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <variant>

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

// What a complete request head asks, or the answer it gets without the handler.
std::variant<HttpRequest, HttpAnswer> ReadHead(const QByteArray& head) {
    const QList<QByteArray> line = head.left(head.indexOf('\n')).trimmed().split(' ');
    if (line.size() != 3 || !line[2].startsWith("HTTP/1.") || !line[1].startsWith('/')) {
        return HttpAnswer::Text(400, "not a request");
    }
    if (line[0] != "GET") {
        return HttpAnswer::Text(405, "only GET");
    }
    const QUrl url = QUrl::fromEncoded("http://display" + line[1]);
    if (!url.isValid()) {
        return HttpAnswer::Text(400, "not a request");
    }
    HttpRequest asked;
    asked.path = url.path();
    for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        asked.query.insert(key, value);
    }
    return asked;
}

}  // namespace

// Takes a connection only when the allow-list and the bounds let it, reads its request
// head and hands the request to the handler; closes it when the head is too large or too
// slow.
class StatusGate : public QTcpServer {
  public:
    StatusGate(std::unique_ptr<AddressFilter> allow, QtStatusServer::Limits limits)
        : allow_(std::move(allow)), limits_(limits) {}
    void SetHandler(StatusServer::Handler handler) { handler_ = std::move(handler); }

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
        struct Reading {
            QByteArray head;
            bool done = false;  // answered, or being answered: the rest is not read
        };
        auto reading = std::make_shared<Reading>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, reading] {
            QByteArray& head = reading->head;
            if (reading->done) {
                socket->readAll();
                return;
            }
            head.append(socket->read(limits_.maxHeadBytes + 1 - head.size()));
            const bool whole = head.contains("\r\n\r\n") || head.contains("\n\n");
            if (!whole && head.size() <= limits_.maxHeadBytes) {
                return;
            }
            reading->done = true;
            const std::variant<HttpRequest, HttpAnswer> asked =
                whole ? ReadHead(head) : HttpAnswer::Text(400, "request head too large");
            head.clear();
            if (const auto* answer = std::get_if<HttpAnswer>(&asked)) {
                WriteAnswer(socket, *answer);
            } else if (!handler_) {
                WriteAnswer(socket, HttpAnswer::Text(503, "not ready"));
            } else {
                handler_(std::get<HttpRequest>(asked),
                         [guarded = QPointer<QTcpSocket>(socket)](const HttpAnswer& answer) {
                             if (guarded) {
                                 WriteAnswer(guarded, answer);
                             }
                         });
            }
        });
        connect(socket, &QTcpSocket::bytesWritten, deadline,
                [deadline, this] { deadline->start(limits_.headTimeoutMs); });
    }

  private:
    std::unique_ptr<AddressFilter> allow_;
    QtStatusServer::Limits limits_;
    StatusServer::Handler handler_;
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
    gate_->SetHandler(std::move(handler));
    if (!gate_->listen(QHostAddress::Any, port)) {
        return Fail(gate_->errorString());
    }
    return gate_->serverPort();
}

}  // namespace platform
