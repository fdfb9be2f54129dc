#pragma once

#include "platform/inet.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>

namespace platform {

class CurlTransfer;

// HTTP GET on libcurl, on a thread of its own that runs curl's multi interface: the body
// is written to the caller's writer there as curl hands it over, so a busy window neither
// slows the transfer nor grows its memory, whatever the body's size. Keep-alive, HTTPS with
// the system's certificates and proxies from the environment are curl's own. A request with
// no progress for the time-out fails, and so does one that runs past its deadline or, when
// no length was announced, brings more than the largest body. States reach StateChanged
// through the event loop of the thread that made the CurlInet.
class CurlInet : public QObject, public Inet {
  public:
    CurlInet();
    explicit CurlInet(InetLimits limits);
    ~CurlInet() override;

    void SetRequestTimeout(int seconds) override;
    void Execute(const QString& url, const QString& operation) override;
    void SetBodyWriter(FileWriter* writer) override;
    qint64 BodyBytes() const override { return received_; }
    void Cancel() override;
    int ResponseCode() const override { return code_; }
    qint64 AnnouncedLength() const override { return announced_; }
    void SetConditions(const Conditions& conditions) override { conditions_ = conditions; }
    Validators ResponseValidators() const override { return validators_; }

    // What the transfer thread shares with the caller's: the writer and the request it
    // belongs to. The transfer writes only while both hold, under the lock, so that once
    // Cancel or SetBodyWriter returns no byte more reaches the old writer.
    struct Shared {
        std::mutex lock;
        FileWriter* writer = nullptr;
        quint64 generation = 0;
        std::atomic<bool> progressQueued{false};
    };
    // What a report of the transfer carries besides its state.
    struct Figures {
        qint64 received = 0;
        int code = 0;
        qint64 announced = -1;
        Validators validators;
    };
    void Deliver(quint64 generation, const Result<int>& state, Figures figures);

  private:
    void Report(const Result<int>& state);

    Shared shared_;
    std::unique_ptr<CurlTransfer> transfer_;
    qint64 received_ = 0;
    int timeoutSeconds_ = 60;
    int code_ = 0;
    qint64 announced_ = -1;
    Validators validators_;
    Conditions conditions_;  // for the next request
    quint64 generation_ = 0;
};

}  // namespace platform
