#pragma once

#include "platform/inet.h"
#include "platform/system_settings.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class QNetworkAccessManager;
class QNetworkReply;

namespace platform {

// HTTP GET on QNetworkAccessManager. The body is written to the caller's writer as it
// arrives, in large blocks, so memory stays flat whatever its size. A request with no
// progress for the time-out fails, and so does one that runs past its deadline or, when
// no length was announced, brings more than the largest body.
class QtInet : public QObject, public Inet {
  public:
    struct Limits {
        int deadlineSeconds = SystemSettings{}.fetchDeadlineS;
        qint64 maxUnannouncedBytes = SystemSettings{}.fetchMaxBytes;
    };
    QtInet();
    explicit QtInet(Limits limits);
    ~QtInet() override;

    void SetRequestTimeout(int seconds) override;
    void Execute(const QString& url, const QString& operation) override;
    void SetBodyWriter(FileWriter* writer) override { writer_ = writer; }
    qint64 BodyBytes() const override { return received_; }
    void Cancel() override;
    int ResponseCode() const override { return code_; }
    qint64 AnnouncedLength() const override { return announced_; }

  private:
    void OnReadyRead();
    void OnFinished();
    void Fail(const QString& reason);
    void Report(const Result<int>& state);

    QNetworkAccessManager* manager_;
    QPointer<QNetworkReply> reply_;
    FileWriter* writer_ = nullptr;
    QByteArray buffer_;
    bool progressQueued_ = false;
    QTimer progress_;
    QTimer deadline_;
    Limits limits_;
    qint64 received_ = 0;
    int timeoutSeconds_ = 60;
    int code_ = 0;
    qint64 announced_ = -1;
    quint64 generation_ = 0;
};

}  // namespace platform
