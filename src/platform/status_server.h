#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <functional>

class QWidget;

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

// The picture as it goes out: the whole window as the screen shows it, films included.
class PictureGrabber {
  public:
    virtual ~PictureGrabber() = default;
    // A null image when there is nothing to grab.
    virtual QImage Grab(QWidget& window) = 0;
    // The picture made small, for a frequent look at it: cheap, not exact.
    virtual QImage Thumbnail(QWidget& window, QSize size) {
        const QImage whole = Grab(window);
        return whole.isNull() ? whole
                              : whole.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
};

}  // namespace platform
