#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <functional>

namespace platform {

// A request to the read-only status server: its path and its query's items.
struct HttpRequest {
    QString path;
    QMap<QString, QString> query;
};

struct HttpAnswer {
    int status = 200;
    QByteArray type = "text/plain; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;  // more header fields

    static HttpAnswer Of(int status, const QByteArray& type, const QByteArray& body) {
        return {status, type, body, {}};
    }
    static HttpAnswer Text(int status, const QByteArray& text) {
        return Of(status, "text/plain; charset=utf-8", text + '\n');
    }
};

// A read-only HTTP server. Requests arrive through the event loop, one turn each, from
// peers the allow-list lets in; `reply` may be called at once or later, once. A server
// answers on its own, without the handler, what is not a plain GET of a path (400), a
// request head past its bound, and a peer that sends too slowly (closed).
class StatusServer {
  public:
    virtual ~StatusServer() = default;
    using Reply = std::function<void(const HttpAnswer& answer)>;
    using Handler = std::function<void(const HttpRequest& request, Reply reply)>;
    // Listens on `port` of every address; the port it listens on.
    virtual Result<quint16> Listen(quint16 port, Handler handler) = 0;
};

}  // namespace platform
