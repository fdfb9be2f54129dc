#include "content/content_check.h"

#include "swf/swf.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QtEndian>

#include <unistd.h>
#include <algorithm>
#include <cerrno>

namespace content {

namespace {

constexpr int kMaxFlashVersion = 64;

QString WhatItSays(Kind kind) {
    switch (kind) {
        case Kind::kFlash:
            return QStringLiteral("a Flash movie");
        case Kind::kPicture:
            return QStringLiteral("a picture");
        case Kind::kMedia:
            return QStringLiteral("a film or sound file");
        case Kind::kText:
            return QStringLiteral("a text file");
        case Kind::kUnknown:
            break;
    }
    return QStringLiteral("what its name says");
}

Refused Refuse(Refusal refusal, QString reason) {
    return {refusal, std::move(reason)};
}

// The signature and the version; nullopt when they are a Flash movie's.
std::optional<Refused> FlashSignature(const QByteArray& head) {
    const QByteArray signature = head.left(3);
    if (signature != "FWS" && signature != "CWS" && signature != "ZWS") {
        return Refuse(Refusal::kNotFlash, QStringLiteral("not a Flash movie (no Flash signature)"));
    }
    const int version = head.size() > 3 ? static_cast<quint8>(head[3]) : 0;
    if (version < 1 || version > kMaxFlashVersion) {
        return Refuse(Refusal::kNotFlash,
                      QStringLiteral("not a Flash movie (version %1)").arg(version));
    }
    return std::nullopt;
}

Refused Cut(const QString& wrong) {
    return Refuse(Refusal::kCut, QStringLiteral("a Flash movie that is not whole (") + wrong + ')');
}

std::optional<Refused> InspectFlash(QFile& file) {
    if (auto wrong = FlashSignature(file.peek(8))) {
        return wrong;
    }
    if (const auto wrong = swf::Incomplete(file)) {
        return Cut(*wrong);
    }
    return std::nullopt;
}

// A file's bytes, read where they are asked for (in blocks, the last block kept): a
// picture's end is judged from its first segments and its last bytes, and reading it
// whole, or mapping it (each unmapping interrupts every core the program runs on), would
// cost more than writing it did.
class FileBytes {
  public:
    explicit FileBytes(QFile& file) : fd_(file.handle()), size_(file.size()) {}
    qint64 size() const { return size_; }
    // The `count` bytes at `pos`, fewer at the end of the file; empty on a read error.
    QByteArrayView At(qint64 pos, qint64 count) {
        if (pos < 0 || pos >= size_) {
            return {};
        }
        count = std::min(count, size_ - pos);
        if (pos < start_ || pos + count > start_ + block_.size()) {
            block_.resize(static_cast<qsizetype>(std::min(std::max(count, kBlock), size_ - pos)));
            start_ = pos;
            qint64 got = 0;
            while (got < block_.size()) {
                const ssize_t n = ::pread(fd_, block_.data() + got,
                                          static_cast<size_t>(block_.size() - got), pos + got);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    break;
                }
                got += n;
            }
            block_.truncate(static_cast<qsizetype>(got));
            if (got < count) {
                return {};
            }
        }
        return QByteArrayView(block_).sliced(pos - start_, count);
    }
    quint8 Byte(qint64 pos) {
        const QByteArrayView byte = At(pos, 1);
        return byte.isEmpty() ? 0 : static_cast<quint8>(byte[0]);
    }
    // Where the last `what` that starts at or after `from` begins; -1 when none does. Read
    // from the end backwards.
    qint64 LastIndexOf(QByteArrayView what, qint64 from) {
        qint64 end = size_;
        while (end - from >= what.size()) {
            const qint64 begin = std::max(from, end - kBlock);
            const QByteArrayView bytes = At(begin, end - begin);
            if (bytes.size() != end - begin) {
                return -1;
            }
            if (const qsizetype found = bytes.lastIndexOf(what); found >= 0) {
                return begin + found;
            }
            end = begin + what.size() - 1;  // a match across the blocks' border
        }
        return -1;
    }

  private:
    static constexpr qint64 kBlock = 64 * 1024;
    int fd_;
    qint64 size_;
    qint64 start_ = 0;
    QByteArray block_;
};

// Whether a JPEG runs to its end: its segments from the start up to its first scan, and an
// end-of-image marker after that scan begins. Scan data never holds that marker (a 0xFF
// in it is followed by 0x00 or a restart number), so a file cut short has none after its
// first scan, however many it holds before (a thumbnail's); bytes after the end (a
// phone's own) do no harm. Looked for from the end, it is found at once in a whole file.
bool JpegRunsToItsEnd(FileBytes& bytes) {
    const qint64 size = bytes.size();
    if (size < 4 || bytes.Byte(0) != 0xFF || bytes.Byte(1) != 0xD8) {
        return false;
    }
    qint64 pos = 2;
    while (pos + 1 < size) {
        if (bytes.Byte(pos) != 0xFF) {
            return false;
        }
        const uchar marker = bytes.Byte(pos + 1);
        pos += 2;
        if (marker == 0xFF) {
            --pos;  // fill byte
            continue;
        }
        if ((marker >= 0xD0 && marker <= 0xD9) || marker == 0x01) {
            continue;  // no length
        }
        if (pos + 2 > size) {
            return false;
        }
        if (marker == 0xDA) {
            return bytes.LastIndexOf(QByteArrayView("\xFF\xD9", 2), pos + 1) > pos;
        }
        pos += (bytes.Byte(pos) << 8) | bytes.Byte(pos + 1);
    }
    return false;
}

// A PNG's chunks from the signature to IEND.
bool PngRunsToItsEnd(FileBytes& bytes) {
    qint64 pos = 8;
    while (pos + 12 <= bytes.size()) {
        const QByteArrayView head = bytes.At(pos, 8);
        if (head.size() < 8) {
            return false;
        }
        if (head.sliced(4) == "IEND") {
            return true;
        }
        pos += 12 + static_cast<qint64>(qFromBigEndian<quint32>(head.data()));
    }
    return false;
}

// Whether a picture's bytes run to the end marker of their format; formats without one
// that is cheap to find pass.
bool PictureRunsToItsEnd(FileBytes& bytes, const QByteArray& format) {
    if (format == "jpeg") {
        return JpegRunsToItsEnd(bytes);
    }
    if (format == "png") {
        return PngRunsToItsEnd(bytes);
    }
    if (format == "gif") {
        // Its trailer, after any zeros the file was padded with.
        for (qint64 end = bytes.size(); end > 0;) {
            const qint64 begin = std::max<qint64>(0, end - (64 << 10));
            const QByteArrayView block = bytes.At(begin, end - begin);
            qsizetype last = block.size();
            while (last > 0 && block[last - 1] == '\0') {
                --last;
            }
            if (last > 0 || block.size() != end - begin) {
                return last > 0 && block[last - 1] == ';';
            }
            end = begin;
        }
        return false;
    }
    if (format == "bmp") {
        const QByteArrayView size = bytes.At(2, 4);
        return size.size() == 4 &&
               qFromLittleEndian<quint32>(size.data()) <= static_cast<quint64>(bytes.size());
    }
    return true;
}

std::optional<Refused> InspectPicture(QFile& file) {
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    if (format.isEmpty()) {
        return Refuse(Refusal::kNotPicture, QStringLiteral("not a picture (no known format)"));
    }
    FileBytes bytes(file);
    if (!PictureRunsToItsEnd(bytes, format)) {
        return Refuse(
            Refusal::kCut,
            QStringLiteral("a picture that is not whole (%1 bytes, no end)").arg(bytes.size()));
    }
    // A JPEG or PNG whose header decodes and whose segments or chunks run to their end
    // marker is whole; decoding its pixels as well would cost several times the write of
    // a photo (content_check_bench). Other formats are decoded.
    if (format == "jpeg" || format == "png") {
        if (!reader.size().isValid()) {
            return Refuse(Refusal::kNotPicture, QStringLiteral("not a picture whose header "
                                                               "decodes (") +
                                                    reader.errorString() + ')');
        }
        return std::nullopt;
    }
    if (reader.read().isNull()) {
        return Refuse(Refusal::kNotPicture,
                      QStringLiteral("not a picture that decodes (") + reader.errorString() + ')');
    }
    return std::nullopt;
}

// Opens a file that is to be what `kind` says, or says why it cannot be: not there,
// unreadable, empty (a text may be), or an HTML page.
std::optional<Refused> Opened(QFile& file, Kind kind) {
    if (!file.open(QIODevice::ReadOnly)) {
        return Refuse(Refusal::kUnreadable,
                      file.exists() ? QStringLiteral("unreadable (") + file.errorString() + ')'
                                    : QStringLiteral("no such file"));
    }
    if (file.size() == 0 && kind != Kind::kText) {
        return Refuse(Refusal::kEmpty, QStringLiteral("an empty file, not ") + WhatItSays(kind));
    }
    if (LooksLikeHtml(file.peek(1024))) {
        return Refuse(Refusal::kHtml, QStringLiteral("an HTML page, not ") + WhatItSays(kind));
    }
    return std::nullopt;
}

}  // namespace

Kind KindOf(const QString& name) {
    const QString suffix = QFileInfo(name).suffix().toLower();
    static const QStringList kPictures = {"jpg", "jpeg", "png", "gif", "bmp"};
    static const QStringList kMedia = {"mpg", "mpeg", "mp4", "m4v", "avi", "wmv", "asf", "mov",
                                       "mkv", "webm", "ts",  "flv", "y4m", "mp3", "mp2", "wav",
                                       "wma", "ogg",  "oga", "m4a", "aac", "flac"};
    if (suffix == QLatin1String("swf")) {
        return Kind::kFlash;
    }
    if (kPictures.contains(suffix)) {
        return Kind::kPicture;
    }
    if (kMedia.contains(suffix)) {
        return Kind::kMedia;
    }
    if (suffix == QLatin1String("txt")) {
        return Kind::kText;
    }
    return Kind::kUnknown;
}

bool LooksLikeHtml(const QByteArray& start) {
    QByteArray text = start.left(1024).toLower();
    if (text.startsWith("\xef\xbb\xbf")) {
        text.remove(0, 3);
    }
    text = text.trimmed();
    if (text.startsWith("<?xml")) {
        const qsizetype end = text.indexOf("?>");
        text = end < 0 ? QByteArray() : text.mid(end + 2).trimmed();
    }
    while (text.startsWith("<!--")) {
        const qsizetype end = text.indexOf("-->");
        text = end < 0 ? QByteArray() : text.mid(end + 3).trimmed();
    }
    for (const char* opening : {"<!doctype html", "<html", "<head", "<body"}) {
        if (text.startsWith(opening)) {
            return true;
        }
    }
    return false;
}

std::optional<Refused> Inspect(const QString& path, const QString& name,
                               platform::MediaProbe* probe) {
    const Kind kind = KindOf(name);
    if (kind == Kind::kUnknown) {
        return std::nullopt;
    }
    QFile file(path);
    if (auto wrong = Opened(file, kind)) {
        return wrong;
    }
    switch (kind) {
        case Kind::kFlash:
            return InspectFlash(file);
        case Kind::kPicture:
            return InspectPicture(file);
        case Kind::kMedia: {
            if (!probe) {
                return std::nullopt;
            }
            file.close();
            const auto streams = probe->Streams(path, kProbeTimeoutMs);
            if (!streams) {
                return Refuse(Refusal::kNoStream, QStringLiteral("no film or sound found in it (") +
                                                      streams.reason() + ')');
            }
            if (*streams == 0) {
                return Refuse(Refusal::kNoStream, QStringLiteral("no film or sound found in it"));
            }
            return std::nullopt;
        }
        case Kind::kText:
        case Kind::kUnknown:
            break;
    }
    return std::nullopt;
}

std::optional<Refused> InspectMovieStart(const QString& path) {
    QFile file(path);
    if (auto wrong = Opened(file, Kind::kFlash)) {
        return wrong;
    }
    const QByteArray start = file.peek(swf::kHeaderPrefix);
    if (auto wrong = FlashSignature(start)) {
        return wrong;
    }
    if (!start.startsWith("ZWS") && !swf::ReadHeader(start)) {
        return Refuse(Refusal::kNotFlash,
                      QStringLiteral("not a Flash movie (its header cannot be read)"));
    }
    // A compressed movie's length is known only once it is inflated, which is for workers.
    if (const auto wrong = start.startsWith("CWS") ? std::nullopt : swf::Incomplete(file)) {
        return Cut(*wrong);
    }
    return std::nullopt;
}

platform::ContentCheck CheckFor(const QString& name, platform::MediaProbe* probe,
                                std::shared_ptr<std::optional<Refused>> refused) {
    if (KindOf(name) == Kind::kUnknown) {
        return {};
    }
    return [name, probe, refused](const QString& path) -> platform::Result<> {
        auto found = Inspect(path, name, probe);
        if (refused) {
            *refused = found;
        }
        if (found) {
            return platform::Fail(found->reason, platform::FailureKind::kRefused);
        }
        return {};
    };
}

}  // namespace content
