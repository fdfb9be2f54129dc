#include "platform/qt/qt_inet.h"

#include "platform/log.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <cstring>
#include <limits>

namespace platform {

namespace {
constexpr int kMaxRedirects = 10;
constexpr qint64 kReadBuffer = 256 * 1024;
constexpr qint64 kMemorySpool = 16 * 1024 * 1024;

// Spool files that a crash left behind; one still open elsewhere keeps working, as its
// reader holds it open, and a fresh one is left alone.
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
    error_.clear();
    spoolFailed_ = false;
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
    collecting_ = true;
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
    connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64, qint64 total) {
        progress_.start(timeoutSeconds_ * 1000);
        if (total > 0 && total <= kMemorySpool && memory_.capacity() < total) {
            memory_.reserve(total);
        }
    });
    progress_.start(timeoutSeconds_ * 1000);
    deadline_.start(static_cast<int>(
        std::min<qint64>(limits_.deadlineSeconds, std::numeric_limits<int>::max() / 1000) * 1000));
}

void QtInet::OnReadyRead() {
    progress_.start(timeoutSeconds_ * 1000);
    if (!reply_ || !collecting_) {
        return;
    }
    const bool announced = reply_->header(QNetworkRequest::ContentLengthHeader).isValid();
    for (;;) {
        const qint64 available = reply_->bytesAvailable();
        if (available <= 0) {
            break;
        }
        qint64 got = 0;
        if (!spool_ && memory_.size() + available <= kMemorySpool) {
            // Small bodies are read straight into memory.
            const qsizetype old = memory_.size();
            memory_.resize(old + available);
            got = reply_->read(memory_.data() + old, available);
            memory_.truncate(old + std::max<qint64>(0, got));
        } else {
            char buffer[64 * 1024];
            got = reply_->read(buffer, sizeof buffer);
            if (got > 0 && !spoolFailed_ && !Spool(buffer, got)) {
                spoolFailed_ = true;
            }
        }
        if (got <= 0) {
            break;
        }
        received_ += got;
        if (!announced && received_ > limits_.maxUnannouncedBytes) {
            Fail(QStringLiteral("a body without a length passed %1 bytes")
                     .arg(limits_.maxUnannouncedBytes));
            return;
        }
    }
}

bool QtInet::Spool(const char* data, qint64 size) {
    if (!spool_ && memory_.size() + size <= kMemorySpool) {
        memory_.append(data, size);
        return true;
    }
    if (!spool_) {
        spool_ = std::make_unique<QTemporaryFile>(QDir::tempPath() +
                                                  QStringLiteral("/dravonelle-fetch-XXXXXX"));
        if (!spool_->open() || spool_->write(memory_) != memory_.size()) {
            error_ = spool_->errorString();
            return false;
        }
        memory_ = QByteArray();
    }
    return spool_->write(data, size) == size;
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
    if (spoolFailed_ || (spool_ && (!spool_->flush() || !spool_->seek(0)))) {
        Fail(QStringLiteral("cannot keep the body: ") + error_);
        return;
    }
    Report(kInetResponseReceived);
}

void QtInet::Fail(const QString& reason) {
    error_ = reason;
    Cancel();
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

qint64 QtInet::GetChunk(char* into, int size) {
    if (!collecting_ || reply_ || size <= 0) {
        return 0;
    }
    if (spool_) {
        return std::max<qint64>(0, spool_->read(into, size));
    }
    const qint64 length = std::min<qint64>(size, memory_.size() - memoryRead_);
    std::memcpy(into, memory_.constData() + memoryRead_, static_cast<size_t>(length));
    memoryRead_ += length;
    return length;
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
    spool_.reset();
    memory_.truncate(0);  // its room serves the next body
    memoryRead_ = 0;
    collecting_ = false;
}

}  // namespace platform
