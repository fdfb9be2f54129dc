#pragma once

#include "platform/file_system.h"
#include "platform/media_probe.h"
#include "platform/words.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

// Whether a complete content file can be what its name says, before it replaces the one
// in place: a host's maintenance page, a half-copied upload or an empty answer served
// under a movie's or a picture's name must never take the place of a good file.
namespace content {

// What a name says that its file holds, by its extension.
enum class Kind { kUnknown, kFlash, kPicture, kMedia, kText };
Kind KindOf(const QString& name);

// Why a file was refused, counted by these words.
enum class Refusal { kEmpty, kHtml, kNotFlash, kCut, kNotPicture, kNoStream, kUnreadable };
inline constexpr words::Table<Refusal, 7> kRefusals = {{
    {Refusal::kEmpty, "empty"},
    {Refusal::kHtml, "html"},
    {Refusal::kNotFlash, "not_flash"},
    {Refusal::kCut, "cut"},
    {Refusal::kNotPicture, "not_picture"},
    {Refusal::kNoStream, "no_stream"},
    {Refusal::kUnreadable, "unreadable"},
}};
static_assert(words::InOrder(kRefusals));

struct Refused {
    Refusal refusal = Refusal::kUnreadable;
    QString reason;  // for a person: "an HTML page, not a Flash movie"
};

// How long the media engine may look for a stream.
inline constexpr int kProbeTimeoutMs = 10000;

// Whether the complete file at the host path `path` can be what `name` says, or why not:
// - a Flash movie: its signature, a version from 1 to 64, and the length its header
//   declares (a compressed movie is inflated to it);
// - a picture: its header decodes (a GIF or BMP decodes whole) and its structure runs to
//   its end marker;
// - a film or sound file: `probe` finds a stream in it (no probe: not looked for);
// - any file but an HTML page's: not an HTML page;
// - a name of no known kind: anything.
// Reads the file: for workers.
std::optional<Refused> Inspect(const QString& path, const QString& name,
                               platform::MediaProbe* probe);

// What Inspect can tell of a Flash movie file from its start and its size alone, without
// inflating it: cheap enough for the window's thread. A file that is not there is refused
// as unreadable.
std::optional<Refused> InspectMovieStart(const QString& path);

// Whether bytes look like an HTML page: a document type, or an html, head or body element,
// at their start (after a byte-order mark and blanks).
bool LooksLikeHtml(const QByteArray& start);

// A content check for a file named `name`, for FileSystem's commits and copies: what it
// refused, with the reason, is kept in `refused` for the caller to read once the commit
// or copy has reported (its report comes through the event loop, after the check).
// Fails as FailureKind::kRefused.
platform::ContentCheck CheckFor(const QString& name, platform::MediaProbe* probe,
                                std::shared_ptr<std::optional<Refused>> refused = {});

}  // namespace content
