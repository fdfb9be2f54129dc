#pragma once

#include "platform/inet.h"

#include <QObject>
#include <QPointer>
#include <QTemporaryFile>
#include <QTimer>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace platform {

// HTTP GET on QNetworkAccessManager. The body is collected as it arrives, in memory up
// to a few MiB and beyond that in a temporary file, so memory stays flat whatever its
// size; GetChunk reads it back once the response is complete. A request with no
// progress for the time-out fails, and so does one that runs past its deadline or, when
// no length was announced, brings more than the largest body.
class QtInet : public QObject, public Inet {
  public:
    struct Limits {
        int deadlineSeconds = 1800;  // a slow line must still get a large film through
        qint64 maxUnannouncedBytes = qint64(4) << 30;
    };
    QtInet();
    explicit QtInet(Limits limits);
    ~QtInet() override;

    void SetRequestTimeout(int seconds) override;
    void Execute(const QString& url, const QString& operation) override;
    bool StillExecuting() const override;
    qint64 GetChunk(char* into, int size) override;
    void Cancel() override;
    int ResponseCode() const override { return code_; }
    qint64 AnnouncedLength() const override { return announced_; }
    QString ErrorText() const override { return error_; }

  private:
    void OnReadyRead();
    void OnFinished();
    void Fail(const QString& reason);
    void Report(int state);

    QNetworkAccessManager* manager_;
    QPointer<QNetworkReply> reply_;
    bool Spool(const char* data, qint64 size);

    QByteArray memory_;  // the body while it is small
    qint64 memoryRead_ = 0;
    std::unique_ptr<QTemporaryFile> spool_;  // the body once it is large
    bool collecting_ = false;
    QTimer progress_;
    QTimer deadline_;
    Limits limits_;
    qint64 received_ = 0;
    int timeoutSeconds_ = 60;
    int code_ = 0;
    qint64 announced_ = -1;
    QString error_;
    bool spoolFailed_ = false;
    quint64 generation_ = 0;
};

}  // namespace platform
