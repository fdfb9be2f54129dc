#include "platform/vlc/stream_chooser.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>

namespace platform {

StreamChooser::StreamChooser(Options options)
    : options_(options), network_(new QNetworkAccessManager(this)) {
    network_->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

StreamChooser::~StreamChooser() {
    Cancel();
}

void StreamChooser::Start(const QString& address) {
    Cancel();
    failures_.clear();
    tries_ = 0;
    frames_.append(Frame{{QStringList{address}}});
    Next();
}

void StreamChooser::Cancel() {
    ++generation_;
    frames_.clear();
    DropReply();
}

QString StreamChooser::Current() const {
    const Frame& frame = frames_.last();
    return frame.items[frame.item][frame.alternative];
}

void StreamChooser::Failed(const QString& reason) {
    if (!Active()) {
        return;
    }
    failures_.append(Current() + QStringLiteral(" (") + reason + ')');
    Advance(false);
    Next();
}

void StreamChooser::Ended() {
    if (!Active()) {
        return;
    }
    Advance(true);
    Next();
}

// Moves the innermost playlist on: to its next item once the current one has played,
// else to the current item's next address.
void StreamChooser::Advance(bool played) {
    Frame& frame = frames_.last();
    frame.played = frame.played || played;
    if (played || ++frame.alternative >= frame.items[frame.item].size()) {
        ++frame.item;
        frame.alternative = 0;
    }
}

void StreamChooser::Next() {
    // A playlist that has run out counts, for the item that named it, as that item.
    while (frames_.last().item >= frames_.last().items.size()) {
        const bool played = frames_.takeLast().played;
        if (frames_.isEmpty()) {
            Finish(played, played ? QStringLiteral("ended") : QStringLiteral("nothing plays"));
            return;
        }
        Advance(played);
    }
    if (++tries_ > options_.maxTries) {
        const bool played = std::any_of(frames_.cbegin(), frames_.cend(),
                                        [](const Frame& frame) { return frame.played; });
        Finish(played, QStringLiteral("more than %1 addresses tried").arg(options_.maxTries));
        return;
    }
    const QString address = Current();
    const QString scheme = QUrl(address).scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        Look(address);
        return;
    }
    QueuePlay(address);
}

void StreamChooser::Look(const QString& address) {
    QNetworkRequest request{QUrl(address)};
    request.setMaximumRedirectsAllowed(5);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("dravonelle"));
    QNetworkReply* reply = network_->get(request);
    // No more is read from the server than a playlist may hold: a stream or a flood waits
    // in the server's send queue.
    reply->setReadBufferSize(playlist::kMaxBytes + 1);
    reply_ = reply;
    body_.clear();
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { Looked(reply, false); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { Looked(reply, true); });
    // A bound on the whole look: a server that sends a byte now and then does not hold it.
    QTimer::singleShot(options_.fetchTimeoutMs, reply, [this, reply] {
        if (reply == reply_) {
            DropReply();
            Failed(QStringLiteral("no answer within %1 ms").arg(options_.fetchTimeoutMs));
        }
    });
}

void StreamChooser::Looked(QNetworkReply* reply, bool finished) {
    if (reply != reply_) {
        return;
    }
    body_ += reply->read(playlist::kMaxBytes + 1 - body_.size());
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool failed = status >= 400 || (finished && reply->error() != QNetworkReply::NoError);
    if (!failed && !finished && body_.size() < playlist::kSniffBytes) {
        return;  // too little yet to tell a playlist from a stream
    }
    const QUrl base = reply->url();  // after redirects
    const auto kind =
        failed
            ? std::nullopt
            : playlist::Recognise(
                  body_, reply->header(QNetworkRequest::ContentTypeHeader).toString(), base.path());
    if (kind && !finished && body_.size() <= playlist::kMaxBytes) {
        return;  // a playlist: read on to its end
    }
    const QString error =
        status >= 400 ? QStringLiteral("HTTP %1").arg(status) : reply->errorString();
    DropReply();
    if (failed) {
        Failed(error);
    } else if (!kind) {
        QueuePlay(Current());  // a stream, or what only the engine reads: it opens it itself
    } else if (body_.size() > playlist::kMaxBytes) {
        Failed(QStringLiteral("playlist larger than %1 bytes").arg(playlist::kMaxBytes));
    } else if (frames_.size() >= options_.maxDepth) {
        Failed(QStringLiteral("playlists nested deeper than %1").arg(options_.maxDepth));
    } else if (QList<QStringList> items = playlist::Parse(*kind, body_, base); items.isEmpty()) {
        Failed(QStringLiteral("playlist names nothing to play"));
    } else {
        frames_.append(Frame{std::move(items)});
        Next();
    }
}

void StreamChooser::DropReply() {
    if (QNetworkReply* reply = reply_.data()) {
        reply_ = nullptr;
        reply->disconnect(this);
        // Not inside the reply's own signal: aborting there can leave the connection
        // that the next request takes unusable.
        QMetaObject::invokeMethod(
            reply,
            [reply] {
                if (!reply->isFinished()) {
                    reply->abort();
                }
                reply->deleteLater();
            },
            Qt::QueuedConnection);
    }
}

void StreamChooser::QueuePlay(const QString& address) {
    QMetaObject::invokeMethod(
        this,
        [this, generation = generation_, address] {
            if (generation == generation_ && Play) {
                Play(address);
            }
        },
        Qt::QueuedConnection);
}

void StreamChooser::Finish(bool played, const QString& reason) {
    constexpr int kShown = 5;
    QString why = reason;
    if (!failures_.isEmpty()) {
        why += QStringLiteral(": ") + failures_.mid(0, kShown).join(QStringLiteral(", "));
    }
    if (failures_.size() > kShown) {
        why += QStringLiteral(" and %1 more").arg(failures_.size() - kShown);
    }
    frames_.clear();
    QMetaObject::invokeMethod(
        this,
        [this, generation = generation_, played, why] {
            if (generation == generation_ && Exhausted) {
                Exhausted(played, why);
            }
        },
        Qt::QueuedConnection);
}

}  // namespace platform
