#include "platform/qt/qt_inet.h"

#include "platform/log.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace platform {

namespace {
constexpr int kMaxRedirects = 10;
constexpr qint64 kReadBuffer = 256 * 1024;
}  // namespace

QtInet::QtInet() : manager_(new QNetworkAccessManager(this)) {
    progress_.setSingleShot(true);
    connect(&progress_, &QTimer::timeout, this,
            [this] { Fail(QStringLiteral("no progress for %1 s").arg(timeoutSeconds_)); });
}

QtInet::~QtInet() {
    Drop();
}

void QtInet::SetRequestTimeout(int seconds) {
    timeoutSeconds_ = seconds > 0 ? seconds : 60;
}

void QtInet::Execute(const QString& url, const QString& operation) {
    Drop();
    ++generation_;
    code_ = 0;
    announced_ = -1;
    error_.clear();
    spoolFailed_ = false;
    if (operation != QLatin1String("GET")) {
        Fail(QStringLiteral("unsupported operation ") + operation);
        return;
    }
    const QUrl address(url);
    if (!address.isValid() || address.scheme().isEmpty()) {
        Fail(QStringLiteral("not an address: ") + url);
        return;
    }
    spool_ = std::make_unique<QTemporaryFile>(QDir::tempPath() +
                                              QStringLiteral("/dravonelle-fetch-XXXXXX"));
    if (!spool_->open()) {
        Fail(QStringLiteral("cannot spool the body: ") + spool_->errorString());
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
}

void QtInet::OnReadyRead() {
    progress_.start(timeoutSeconds_ * 1000);
    if (!reply_ || !spool_) {
        return;
    }
    char buffer[64 * 1024];
    for (;;) {
        const qint64 got = reply_->read(buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        if (!spoolFailed_ && spool_->write(buffer, got) != got) {
            spoolFailed_ = true;
        }
    }
}

void QtInet::OnFinished() {
    if (!reply_) {
        return;
    }
    progress_.stop();
    OnReadyRead();
    QNetworkReply* reply = reply_;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    code_ = status.isValid() ? status.toInt() : 0;
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    announced_ = length.isValid() ? length.toLongLong() : -1;
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
    if (spoolFailed_ || !spool_ || !spool_->flush() || !spool_->seek(0)) {
        Fail(QStringLiteral("cannot spool the body"));
        return;
    }
    Report(kInetResponseReceived);
}

void QtInet::Fail(const QString& reason) {
    error_ = reason;
    progress_.stop();
    if (reply_) {
        QNetworkReply* reply = reply_;
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    spool_.reset();
    Report(kInetError);
}

void QtInet::Report(int state) {
    const quint64 generation = generation_;
    QTimer::singleShot(0, this, [this, state, generation] {
        if (generation == generation_ && StateChanged) {
            StateChanged(state);
        }
    });
}

bool QtInet::StillExecuting() const {
    return reply_ != nullptr;
}

QByteArray QtInet::GetChunk(int size) {
    if (!spool_ || reply_ || size <= 0) {
        return {};
    }
    return spool_->read(size);
}

void QtInet::Cancel() {
    progress_.stop();
    if (reply_) {
        QNetworkReply* reply = reply_;
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    spool_.reset();
}

void QtInet::Drop() {
    Cancel();
    ++generation_;
}

}  // namespace platform
