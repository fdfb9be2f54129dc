// The main movie's commands.
#include "content/content_names.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "platform/movie_protocol.h"
#include "presentation/presentation_text.h"
#include "window/form1.h"

#include <QScreen>

#include <cmath>
#include <limits>

namespace {

using movie::kBegin;
using movie::kFilm;
using movie::kFoto;
using movie::kKlaar;

}  // namespace

bool Form1::PresentationBusy() const {
    const bool filmPlaying = !RadioPlaying && !MediaPlayer1.URL().isEmpty();
    return filmPlaying || flashtimer.Enabled() || Timer1.Enabled() || PhotoBeingRead();
}

platform::Result<QString> Form1::ContentFileFromCommand(const QString& name, const char* command) {
    const QString path = ContentPath(name);
    if (const QString refused = content::RefusalReason(name, content::kCommandName);
        !refused.isEmpty()) {
        qCWarning(lcPresentation).noquote()
            << "command" << command << "refused (" + refused + "):" << name;
        return platform::Fail(QStringLiteral("refused (%1): %2").arg(refused, name));
    }
    if (!platform_.files->FileExists(path)) {
        return platform::Fail(QStringLiteral("no such file: ") + path);
    }
    return path;
}

void Form1::ShockwaveFlash1_FSCommand(const QString& command, const QString& args) {
    ++presentation_.commandsSeen;
    const QString word = command.toLower();
    auto& flash = ShockwaveFlash1;
    qCDebug(lcPresentation).noquote() << "command" << command << args;

    if (word == QLatin1String("radio")) {
        StartRadio();
    } else if (word == QLatin1String("flashmovie")) {
        const auto named = ContentFileFromCommand(args, "flashmovie");
        SetMainMovie(named ? *named : ContentPath(kMainMovie));
        flash.Rewind();
        flash.Play();
    } else if (word == QLatin1String("flash")) {
        const auto named = args.size() >= 6 ? ContentFileFromCommand(args.mid(6), "flash")
                                            : platform::Fail(QStringLiteral("no file named"));
        if (named) {
            const QString& path = *named;
            flash.SetVariable(kFilm, kBegin);
            ShockwaveFlash2.SetWidth(static_cast<float>(WindowWidth()));
            ShockwaveFlash2.SetHeight(static_cast<float>(WindowHeight()));
            ShockwaveFlash2.SetMovie(path);
            ShockwaveFlash2.Rewind();
            ShockwaveFlash2.Play();
            ShockwaveFlash2.SetVisible(true);
            flashtimer.SetEnabled(true);
            presentation_.insertFrame = -1;
            StopRadio();
            onAir.Begin(on_air::Kind::kInsert, OnAirLedger::File(path));
        } else {
            onAir.Failed(on_air::Kind::kInsert, args.mid(6), named.reason());
            flash.SetVariable(kFilm, kKlaar);
        }
    } else if (word == QLatin1String("update")) {
        if (args == QLatin1String("waar") && NoUpdateValue() == 0) {
            UpdateContent();
        }
    } else if (word == QLatin1String("film")) {
        flash.SetVariable(kFilm, kBegin);
        const auto tail = presentation::ScanTail(args.size() >= 5 ? args.mid(5) : QString());
        const auto named = args.size() >= 5 ? ContentFileFromCommand(tail.fileName, "film")
                                            : platform::Fail(QStringLiteral("no file named"));
        if (named) {
            const QString& path = *named;
            StopRadio();
            PlaceFilm(tail);
            MediaPlayer1.SetVisible(true);
            MediaPlayer1.SetStretchToFit(true);
            MediaPlayer1.SetURL(path);
            onAir.Begin(on_air::Kind::kFilm, OnAirLedger::File(path));
        } else {
            onAir.Failed(on_air::Kind::kFilm, tail.fileName, named.reason());
            MediaPlayer1.SetEnabled(false);
            MediaPlayer1.SetVisible(false);
            flash.SetVariable(kFilm, kKlaar);
        }
    } else if (word == QLatin1String("mp3")) {
        flash.SetVariable(kFilm, kBegin);
        const auto tail = presentation::ScanTail(args.size() >= 4 ? args.mid(4) : QString());
        StopRadio();
        if (args.size() < 4 || !content::Accepted(tail.fileName, content::kCommandName)) {
            // Nothing that can be played: answer as the player answers a missing file.
            qCWarning(lcPresentation).noquote() << "command mp3 has no usable file:" << args;
            onAir.Failed(on_air::Kind::kSound, tail.fileName, QStringLiteral("no usable file"));
            MediaPlayer1_PlayStateChange(platform::kStopped);
            return;
        }
        MediaPlayer1.SetURL(ContentPath(tail.fileName));
        onAir.Begin(on_air::Kind::kSound, OnAirLedger::File(ContentPath(tail.fileName)));
    } else if (word == QLatin1String("foto")) {
        ShowPhoto(args);
    }
}

void Form1::PlaceFilm(const presentation::TailScan& tail) {
    const double w = WindowWidth();
    const double h = WindowHeight();
    const auto edges = presentation::PlacementEdges(tail);
    if (!edges) {
        MediaPlayer1.SetLeft(0);
        MediaPlayer1.SetTop(0);
        MediaPlayer1.SetWidth(static_cast<float>(w));
        MediaPlayer1.SetHeight(static_cast<float>(h));
        return;
    }
    const auto& [x1, y1, x2, y2] = *edges;
    MediaPlayer1.SetLeft(static_cast<float>(x1 / 100 * w));
    MediaPlayer1.SetTop(static_cast<float>(y1 / 100 * h));
    MediaPlayer1.SetWidth(static_cast<float>(x2 / 100 * w - x1 / 100 * w));
    MediaPlayer1.SetHeight(static_cast<float>(y2 / 100 * h - y1 / 100 * h));
}

void Form1::ShowPhoto(const QString& args) {
    // Any failure from here on takes the photo recovery (PhotoFailed).
    ShockwaveFlash1.SetVariable(kFoto, kBegin);

    QString name;
    for (qsizetype i = 6; i <= args.size(); ++i) {
        if (args[i - 1] != QLatin1Char(',')) {
            continue;
        }
        const double ms = presentation::LeadingNumber(args.mid(i)) * 1000.0;
        name = args.mid(5, i - 6);
        Timer1.SetEnabled(true);
        const double rounded = std::nearbyint(ms);  // halves to the even neighbour
        if (!std::isfinite(ms) || rounded < 0 ||
            rounded > static_cast<double>(std::numeric_limits<int>::max())) {
            PhotoFailed(QStringLiteral("duration out of range in ") + args);
            return;
        }
        Timer1.SetInterval(static_cast<int>(rounded));
    }
    if (name.isEmpty()) {
        name = args;
    }
    const auto named = ContentFileFromCommand(name, "foto");
    if (!named) {
        PhotoFailed(named.reason());
        return;
    }
    const QString path = *named;
    const auto host = platform_.files->HostPath(path);
    if (!host) {
        PhotoFailed(path + QStringLiteral(": not on the drive"));
        return;
    }
    // The picture is read off the window's thread; the photo goes up when it is read,
    // unless a later command, a skip or the photo's own time came first.
    // The photo is known by the number of its command.
    const quint64 command = presentation_.commandsSeen;
    presentation_.photoBeingRead = command;
    const QSize screenSize = screen() ? screen()->size() * screen()->devicePixelRatio() : QSize();
    platform_.pictures->LoadPicture(
        *host, screenSize.expandedTo(size()),
        [this, command, name, path](std::optional<QImage> picture, const QString& error) {
            if (closing_ || presentation_.photoBeingRead != command) {
                return;
            }
            presentation_.photoBeingRead = 0;
            PutUpPhoto(name, path, std::move(picture), error, command);
        });
}

void Form1::PhotoFailed(const QString& why) {
    qCWarning(lcPresentation).noquote() << "photo not shown:" << why;
    onAir.Failed(on_air::Kind::kPhoto, QString(), why);
    Timer1.SetEnabled(false);
    Image1.SetVisible(false);
    ShockwaveFlash1.SetVisible(true);
    ShockwaveFlash1.SetVariable(kFoto, kKlaar);
}

void Form1::PutUpPhoto(const QString& name, const QString& path, std::optional<QImage> picture,
                       const QString& error, quint64 command) {
    // A later command (a film, say) that took the screen while the photo was read or put
    // up wins: the photo stays away, and answers when its time is up.
    const auto overtaken = [&] {
        if (presentation_.commandsSeen == command) {
            return false;
        }
        qCInfo(lcPresentation).noquote() << "photo not shown, a later command came first:" << name;
        return true;
    };
    if (overtaken()) {
        return;
    }
    if (!picture) {
        PhotoFailed(path + QStringLiteral(": ") + error);
        return;
    }
    Image1.SetPicture(*picture);
    platform::PumpEventsOnce();
    if (closing_ || overtaken()) {
        return;
    }
    Image1.SetWidth(static_cast<float>(WindowWidth()));
    Image1.SetHeight(static_cast<float>(WindowHeight()));
    Image1.SetVisible(true);
    onAir.Begin(on_air::Kind::kPhoto,
                {name, ContentPath(name), Timer1.Enabled() ? Timer1.Interval() : 0});
    ShockwaveFlash1.SetVisible(false);
    MediaPlayer1.SetVisible(false);
    MediaPlayer1.SetWidth(1);
    MediaPlayer1.SetHeight(1);
}
