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

// HTTP GET on QNetworkAccessManager. The body is spooled to a temporary file as it
// arrives, so memory stays flat whatever its size; GetChunk reads it back once the
// response is complete. A request with no progress for the time-out fails.
class QtInet : public QObject, public Inet {
  public:
    QtInet();
    ~QtInet() override;

    void SetRequestTimeout(int seconds) override;
    void Execute(const QString& url, const QString& operation) override;
    bool StillExecuting() const override;
    QByteArray GetChunk(int size) override;
    void Cancel() override;
    int ResponseCode() const override { return code_; }
    qint64 AnnouncedLength() const override { return announced_; }
    QString ErrorText() const override { return error_; }

  private:
    void OnReadyRead();
    void OnFinished();
    void Fail(const QString& reason);
    void Report(int state);
    void Drop();

    QNetworkAccessManager* manager_;
    QPointer<QNetworkReply> reply_;
    std::unique_ptr<QTemporaryFile> spool_;
    QTimer progress_;
    int timeoutSeconds_ = 60;
    int code_ = 0;
    qint64 announced_ = -1;
    QString error_;
    bool spoolFailed_ = false;
    quint64 generation_ = 0;
};

}  // namespace platform
