#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <functional>

namespace platform {

// Transfer states reported through StateChanged.
enum InetState : int {
    kInetResponseReceived = 8,  // the whole response is in: take it with GetChunk
    kInetError = 11,            // the request failed; ErrorText says why
};

// An HTTP GET client, one request at a time.
class Inet {
  public:
    virtual ~Inet() = default;
    virtual void SetRequestTimeout(int seconds) = 0;
    // Starts the request and returns at once; progress arrives as StateChanged.
    virtual void Execute(const QString& url, const QString& operation) = 0;
    virtual bool StillExecuting() const = 0;
    // The next piece of the received body, at most `size` bytes, into `into`; returns its
    // length, 0 when none is left.
    virtual qint64 GetChunk(char* into, int size) = 0;
    QByteArray GetChunk(int size) {
        QByteArray piece(size, Qt::Uninitialized);
        piece.truncate(std::max<qint64>(0, GetChunk(piece.data(), size)));
        return piece;
    }
    virtual void Cancel() = 0;

    // What the last response said: its HTTP status (0 when none came), the length that
    // it announced (-1 when it announced none) and, after a failure, the reason.
    virtual int ResponseCode() const = 0;
    virtual qint64 AnnouncedLength() const = 0;
    virtual QString ErrorText() const = 0;

    std::function<void(int state)> StateChanged;
};

}  // namespace platform
