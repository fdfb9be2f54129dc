#include "platform/qt/qt_inet.h"

#include "platform/file_system.h"
#include "platform/log.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

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

QtInet::QtInet() : QtInet(Limits{}) {}

QtInet::QtInet(Limits limits) : manager_(new QNetworkAccessManager(this)), limits_(limits) {
    SweepSpool();
    progress_.setSingleShot(true);
    connect(&progress_, &QTimer::timeout, this,
            [this] { Fail(QStringLiteral("no progress for %1 s").arg(timeoutSeconds_)); });
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::VeryCoarseTimer);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        Fail(QStringLiteral("not complete after %1 s").arg(limits_.deadlineSeconds));
    });
}

QtInet::~QtInet() {
    Cancel();
}

void QtInet::SetRequestTimeout(int seconds) {
    timeoutSeconds_ = seconds > 0 ? seconds : 60;
}

void QtInet::Execute(const QString& url, const QString& operation) {
    Cancel();
    ++generation_;  // what the previous request still has queued is dropped
    code_ = 0;
    announced_ = -1;
    received_ = 0;
    if (operation != QLatin1String("GET")) {
        Fail(QStringLiteral("unsupported operation ") + operation);
        return;
    }
    const QUrl address(url);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        Fail(QStringLiteral("not an http or https address: ") + url);
        return;
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
    connect(reply_, &QNetworkReply::readyRead, this, &QtInet::OnReadyRead);
    connect(reply_, &QNetworkReply::finished, this, &QtInet::OnFinished);
    connect(reply_, &QNetworkReply::downloadProgress, this,
            [this] { progress_.start(timeoutSeconds_ * 1000); });
    progress_.start(timeoutSeconds_ * 1000);
    deadline_.start(static_cast<int>(
        std::min<qint64>(limits_.deadlineSeconds, std::numeric_limits<int>::max() / 1000) * 1000));
}

void QtInet::OnReadyRead() {
    progress_.start(timeoutSeconds_ * 1000);
    if (!reply_) {
        return;
    }
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    const bool announced = length.isValid();
    const bool first = announced_ < 0 && received_ == 0;
    announced_ = announced ? length.toLongLong() : -1;
    // A body announced larger than the disk may take is not fetched at all.
    if (first && announced && writer_) {
        if (const auto fits = writer_->Fits(announced_); !fits) {
            Fail(fits.reason());
            return;
        }
    }
    const qint64 before = received_;
    if (buffer_.size() < kReadBuffer) {
        buffer_.resize(kReadBuffer);
    }
    while (reply_->bytesAvailable() > 0) {
        const qint64 got = reply_->read(buffer_.data(), buffer_.size());
        if (got <= 0) {
            break;
        }
        if (writer_) {
            if (const auto written = writer_->Write(buffer_.constData(), got); !written) {
                Fail(written.reason());
                return;
            }
        }
        received_ += got;
        if (!announced && received_ > limits_.maxUnannouncedBytes) {
            Fail(QStringLiteral("a body without a length passed %1 bytes")
                     .arg(limits_.maxUnannouncedBytes));
            return;
        }
    }
    if (received_ != before && !progressQueued_) {
        // One report for however many pieces arrive before the program looks.
        progressQueued_ = true;
        const quint64 generation = generation_;
        QTimer::singleShot(0, this, [this, generation] {
            progressQueued_ = false;
            if (generation == generation_ && reply_ && StateChanged) {
                StateChanged(kInetReceivingResponse);
            }
        });
    }
}

void QtInet::OnFinished() {
    if (!reply_) {
        return;
    }
    progress_.stop();
    deadline_.stop();
    OnReadyRead();
    if (!reply_) {
        return;  // the last bytes passed a bound
    }
    QNetworkReply* reply = reply_;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    code_ = status.isValid() ? status.toInt() : 0;
    const auto error = reply->error();
    const QString errorText = reply->errorString();
    reply_ = nullptr;
    reply->deleteLater();
    // An HTTP error status still brings a response: the caller judges its status.
    const bool httpAnswer = code_ != 0 && (error == QNetworkReply::NoError ||
                                           error >= QNetworkReply::ContentAccessDenied);
    if (!httpAnswer) {
        Fail(errorText);
        return;
    }
    Report(kInetResponseReceived);
}

void QtInet::Fail(const QString& reason) {
    Cancel();
    Report(platform::Fail(reason));
}

void QtInet::Report(const Result<int>& state) {
    const quint64 generation = generation_;
    QTimer::singleShot(0, this, [this, state, generation] {
        if (generation == generation_ && StateChanged) {
            StateChanged(state);
        }
    });
}

void QtInet::Cancel() {
    progress_.stop();
    deadline_.stop();
    if (reply_) {
        QNetworkReply* reply = reply_;
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

}  // namespace platform
