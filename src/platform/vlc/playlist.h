#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// Playlists as radio stations publish them: ASX (Windows Media), PLS, M3U and the
// "[Reference]" files of Windows Media servers. A playlist is a list of items played one
// after another; an item holds one or more addresses, tried in order until one plays.
namespace platform::playlist {

// Bounds that a hostile playlist cannot pass.
constexpr qsizetype kMaxBytes = 64 * 1024;  // of one playlist file
constexpr qsizetype kSniffBytes = 1024;     // read before telling a playlist from a stream
constexpr int kMaxItems = 100;
constexpr int kMaxAlternatives = 10;

enum class Kind { kAsx, kPls, kM3u, kReference };

// The kind of playlist that `start` (the first kSniffBytes of a response, or all of a
// shorter one) begins; nullopt when it is none, such as a stream or an HLS list, which
// the media engine reads itself. `contentType` and `path` tell a bare M3U list.
std::optional<Kind> Recognise(const QByteArray& start, const QString& contentType,
                              const QString& path);

// The items of a playlist, with addresses made absolute against `base`. Only network
// addresses are kept (http, https, mms, mmsh, mmst, mmsu, rtsp); items and addresses past
// the bounds are left out.
QList<QStringList> Parse(Kind kind, const QByteArray& text, const QUrl& base);

// Whether an address is one a playlist may name.
bool IsStreamAddress(const QUrl& url);

}  // namespace platform::playlist
