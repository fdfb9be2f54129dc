#include "platform/qt/qt_inet.h"

#include "platform/file_system.h"
#include "platform/log.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <limits>

namespace platform {

namespace {
constexpr int kMaxRedirects = 10;
constexpr qint64 kReadBuffer = 256 * 1024;

// Spool files of earlier versions that a crash left behind; one still open elsewhere
// keeps working, as its reader holds it open, and a fresh one is left alone.
void SweepSpool() {
    const QDir temp(QDir::tempPath());
    const QDateTime stale = QDateTime::currentDateTime().addSecs(-60);
    for (const QFileInfo& file :
         temp.entryInfoList({QStringLiteral("dravonelle-fetch-*")}, QDir::Files | QDir::Hidden)) {
        if (file.lastModified() < stale && file.isWritable()) {
            QFile::remove(file.absoluteFilePath());
        }
    }
}

}  // namespace

// One request at a time, on the transfer thread; everything it learns goes back to its
// QtInet as a queued report.
class InetTransfer : public QObject {
  public:
    InetTransfer(QtInet* owner, QtInet::Shared& shared, QtInet::Limits limits)
        : owner_(owner),
          shared_(shared),
          limits_(limits),
          progress_(new QTimer(this)),
          deadline_(new QTimer(this)) {
        progress_->setSingleShot(true);
        connect(progress_, &QTimer::timeout, this, [this] { Fail(Stalled()); });
        deadline_->setSingleShot(true);
        deadline_->setTimerType(Qt::VeryCoarseTimer);
        connect(deadline_, &QTimer::timeout, this, [this] {
            Fail(QStringLiteral("not complete after %1 s").arg(limits_.deadlineSeconds));
        });
    }

    void Start(quint64 generation, const QUrl& address, int timeoutSeconds) {
        Stop();
        generation_ = generation;
        timeoutSeconds_ = timeoutSeconds;
        figures_ = {};
        if (!Current()) {
            return;  // cancelled before it began
        }
        if (!manager_) {
            manager_ = new QNetworkAccessManager(this);
        }
        QNetworkRequest request(address);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setMaximumRedirectsAllowed(kMaxRedirects);
        // The announced length must describe the bytes that arrive.
        request.setRawHeader("Accept-Encoding", "identity");
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
        reply_ = manager_->get(request);
        reply_->setReadBufferSize(kReadBuffer);
        connect(reply_, &QNetworkReply::readyRead, this, &InetTransfer::OnReadyRead);
        connect(reply_, &QNetworkReply::finished, this, &InetTransfer::OnFinished);
        connect(reply_, &QNetworkReply::downloadProgress, this,
                [this] { progress_->start(timeoutSeconds_ * 1000); });
        progress_->start(timeoutSeconds_ * 1000);
        deadline_->start(static_cast<int>(
            std::min<qint64>(limits_.deadlineSeconds, std::numeric_limits<int>::max() / 1000) *
            1000));
    }

    // Ends the request in hand without a report.
    void Stop() {
        progress_->stop();
        deadline_->stop();
        if (reply_) {
            QNetworkReply* reply = reply_;
            reply_ = nullptr;
            reply->disconnect(this);
            reply->abort();
            reply->deleteLater();
        }
    }

  private:
    bool Current() {
        QMutexLocker locked(&shared_.lock);
        return shared_.generation == generation_;
    }

    void OnReadyRead() {
        progress_->start(timeoutSeconds_ * 1000);
        if (!reply_) {
            return;
        }
        const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
        const bool announced = length.isValid();
        const bool first = figures_.announced < 0 && figures_.received == 0;
        figures_.announced = announced ? length.toLongLong() : -1;
        const qint64 before = figures_.received;
        if (buffer_.size() < kReadBuffer) {
            buffer_.resize(kReadBuffer);
        }
        {
            QMutexLocker locked(&shared_.lock);
            if (shared_.generation != generation_) {
                locked.unlock();
                Stop();  // cancelled: its writer may be gone
                return;
            }
            FileWriter* writer = shared_.writer;
            // A body announced larger than the disk may take is not fetched at all.
            if (first && announced && writer) {
                if (const auto fits = writer->Fits(figures_.announced); !fits) {
                    locked.unlock();
                    Fail(fits.failure());
                    return;
                }
            }
            while (reply_->bytesAvailable() > 0) {
                const qint64 got = reply_->read(buffer_.data(), buffer_.size());
                if (got <= 0) {
                    break;
                }
                if (writer) {
                    if (const auto written = writer->Write(buffer_.constData(), got); !written) {
                        locked.unlock();
                        Fail(written.failure());
                        return;
                    }
                }
                figures_.received += got;
                if (!announced && figures_.received > limits_.maxUnannouncedBytes) {
                    locked.unlock();
                    Fail(QStringLiteral("a body without a length passed %1 bytes")
                             .arg(limits_.maxUnannouncedBytes));
                    return;
                }
            }
        }
        // One report for however many pieces arrive before the program looks.
        if (figures_.received != before && !shared_.progressQueued.exchange(true)) {
            Report(kInetReceivingResponse);
        }
    }

    void OnFinished() {
        if (!reply_) {
            return;
        }
        progress_->stop();
        deadline_->stop();
        OnReadyRead();
        if (!reply_) {
            return;  // the last bytes passed a bound, or the request was cancelled
        }
        QNetworkReply* reply = reply_;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        figures_.code = status.isValid() ? status.toInt() : 0;
        const auto error = reply->error();
        const QString errorText = reply->errorString();
        reply_ = nullptr;
        reply->deleteLater();
        // An HTTP error status still brings a response: the caller judges its status.
        const bool httpAnswer = figures_.code != 0 && (error == QNetworkReply::NoError ||
                                                       error >= QNetworkReply::ContentAccessDenied);
        if (!httpAnswer) {
            Report(platform::Fail(errorText));
            return;
        }
        Report(kInetResponseReceived);
    }

    // How far a body that stopped arriving had come; bytes that arrived but were never
    // read would be a missed signal here rather than a silent network, so they are named.
    QString Stalled() const {
        QString reason = QStringLiteral("no progress for %1 s after %2 bytes")
                             .arg(timeoutSeconds_)
                             .arg(figures_.received);
        if (const qint64 unread = reply_ ? reply_->bytesAvailable() : 0; unread > 0) {
            reason += QStringLiteral(", %1 unread").arg(unread);
        }
        return reason;
    }

    void Fail(const QString& reason) { Fail(platform::Fail(reason)); }
    void Fail(const platform::Failure& failure) {
        Stop();
        Report(failure);
    }

    void Report(const Result<int>& state) {
        QMetaObject::invokeMethod(
            owner_,
            [owner = owner_, generation = generation_, state, figures = figures_] {
                owner->Deliver(generation, state, figures);
            },
            Qt::QueuedConnection);
    }

    QtInet* owner_;
    QtInet::Shared& shared_;
    QtInet::Limits limits_;
    QNetworkAccessManager* manager_ = nullptr;
    QPointer<QNetworkReply> reply_;
    QByteArray buffer_;
    QTimer* progress_;
    QTimer* deadline_;
    QtInet::Figures figures_;
    int timeoutSeconds_ = 60;
    quint64 generation_ = 0;
};

QtInet::QtInet() : QtInet(Limits{}) {}

QtInet::QtInet(Limits limits) : transfer_(new InetTransfer(this, shared_, limits)) {
    SweepSpool();
    thread_.setObjectName(QStringLiteral("inet"));
    transfer_->moveToThread(&thread_);
    thread_.start();
}

QtInet::~QtInet() {
    Cancel();
    // The transfer's objects belong to its thread and end there.
    QMetaObject::invokeMethod(
        transfer_,
        [transfer = transfer_] {
            transfer->Stop();
            delete transfer;
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

void QtInet::SetRequestTimeout(int seconds) {
    timeoutSeconds_ = seconds > 0 ? seconds : 60;
}

void QtInet::SetBodyWriter(FileWriter* writer) {
    QMutexLocker locked(&shared_.lock);
    shared_.writer = writer;
}

void QtInet::Execute(const QString& url, const QString& operation) {
    Cancel();  // what the previous request still has queued is dropped
    code_ = 0;
    announced_ = -1;
    received_ = 0;
    if (operation != QLatin1String("GET")) {
        Report(platform::Fail(QStringLiteral("unsupported operation ") + operation));
        return;
    }
    const QUrl address(url);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        Report(platform::Fail(QStringLiteral("not an http or https address: ") + url));
        return;
    }
    QMetaObject::invokeMethod(
        transfer_,
        [transfer = transfer_, generation = generation_, address, seconds = timeoutSeconds_] {
            transfer->Start(generation, address, seconds);
        },
        Qt::QueuedConnection);
}

void QtInet::Cancel() {
    {
        QMutexLocker locked(&shared_.lock);
        shared_.generation = ++generation_;
    }
    shared_.progressQueued = false;
    QMetaObject::invokeMethod(
        transfer_, [transfer = transfer_] { transfer->Stop(); }, Qt::QueuedConnection);
}

void QtInet::Deliver(quint64 generation, const Result<int>& state, Figures figures) {
    if (state && *state == kInetReceivingResponse) {
        shared_.progressQueued = false;
    }
    if (generation != generation_) {
        return;
    }
    received_ = figures.received;
    code_ = figures.code;
    announced_ = figures.announced;
    if (StateChanged) {
        StateChanged(state);
    }
}

void QtInet::Report(const Result<int>& state) {
    QMetaObject::invokeMethod(
        this,
        [this, state, generation = generation_] {
            Deliver(generation, state, {0, code_, announced_});
        },
        Qt::QueuedConnection);
}

}  // namespace platform
