#pragma once

#include "platform/vlc/playlist.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

namespace platform {

// Chooses what to play for a network address: the address itself when it is a stream;
// when it is a playlist, its items one after another, each item's addresses tried in
// order until one plays. Playlists in playlists are followed to a bounded depth, and the
// addresses tried for one start are bounded too. Http addresses are looked at first (at
// most the first bytes of a stream, a whole playlist of at most playlist::kMaxBytes).
//
// The player tells how the address it was given went: Failed (it did not play) or Ended
// (it played, and has ended). Play and Exhausted come through the event loop.
class StreamChooser : public QObject {
  public:
    struct Options {
        int fetchTimeoutMs = 10000;
        int maxDepth = 4;   // playlists in playlists, the first one included
        int maxTries = 40;  // addresses given to the player or looked at, per start
    };
    explicit StreamChooser(Options options);
    ~StreamChooser() override;

    void Start(const QString& address);
    void Cancel();
    bool Active() const { return !frames_.isEmpty(); }
    void Failed(const QString& reason);
    void Ended();

    // Play this address now.
    std::function<void(const QString& address)> Play;
    // Nothing (more) plays: what played has ended, or nothing played; `reason` says why.
    std::function<void(bool played, const QString& reason)> Exhausted;

  private:
    struct Frame {
        QList<QStringList> items;
        int item = 0;
        int alternative = 0;
        bool played = false;
    };
    void Next();
    void Advance(bool played);
    void Look(const QString& address);
    void Looked(QNetworkReply* reply, bool finished);
    void DropReply();
    void QueuePlay(const QString& address);
    void Finish(bool played, const QString& reason);
    QString Current() const;

    Options options_;
    QNetworkAccessManager* network_;
    QPointer<QNetworkReply> reply_;
    QByteArray body_;  // of the look under way
    QList<Frame> frames_;
    QStringList failures_;
    int tries_ = 0;
    quint64 generation_ = 0;
};

}  // namespace platform
