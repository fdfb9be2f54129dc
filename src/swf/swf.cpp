#include "swf/swf.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <zlib.h>

namespace swf {

namespace {

class BitWriter {
  public:
    void Put(quint32 value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            current_ = static_cast<quint8>((current_ << 1) | ((value >> i) & 1));
            if (++count_ == 8) {
                Flush();
            }
        }
    }
    void PutSigned(qint32 value, int bits) { Put(static_cast<quint32>(value), bits); }
    QByteArray Take() {
        if (count_ > 0) {
            current_ = static_cast<quint8>(current_ << (8 - count_));
            Flush();
        }
        return bytes_;
    }

  private:
    void Flush() {
        bytes_.append(static_cast<char>(current_));
        current_ = 0;
        count_ = 0;
    }
    QByteArray bytes_;
    quint8 current_ = 0;
    int count_ = 0;
};

class BitReader {
  public:
    explicit BitReader(const QByteArray& bytes, qsizetype offset)
        : bytes_(bytes), pos_(offset * 8) {}
    std::optional<quint32> Get(int bits) {
        quint32 value = 0;
        for (int i = 0; i < bits; ++i) {
            const qsizetype byte = pos_ / 8;
            if (byte >= bytes_.size()) {
                return std::nullopt;
            }
            value = (value << 1) | ((static_cast<quint8>(bytes_[byte]) >> (7 - pos_ % 8)) & 1);
            ++pos_;
        }
        return value;
    }
    std::optional<qint32> GetSigned(int bits) {
        const auto value = Get(bits);
        if (!value || bits == 0) {
            return value ? std::optional<qint32>(0) : std::nullopt;
        }
        const quint32 sign = 1u << (bits - 1);
        return static_cast<qint32>((*value ^ sign) - sign);
    }
    qsizetype BytePos() const { return (pos_ + 7) / 8; }

  private:
    const QByteArray& bytes_;
    qsizetype pos_;
};

int BitsFor(qint32 value) {
    int bits = 1;
    while (bits < 31 && (value >= (1 << (bits - 1)) || value < -(1 << (bits - 1)))) {
        ++bits;
    }
    return bits;
}

void PutU16(QByteArray& out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void PutU32(QByteArray& out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

QByteArray Utf8z(const QString& text) {
    return text.toUtf8() + '\0';
}

QByteArray Rgb(QColor c) {
    QByteArray out;
    out.append(static_cast<char>(c.red()));
    out.append(static_cast<char>(c.green()));
    out.append(static_cast<char>(c.blue()));
    return out;
}

// The start of a zlib stream, inflated to at most `limit` bytes; what a truncated stream
// gives up to its end. Empty when the bytes are no zlib stream.
QByteArray InflateStart(const QByteArray& compressed, qsizetype limit) {
    QByteArray out(limit, Qt::Uninitialized);
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return {};
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_SYNC_FLUSH);
    const qsizetype produced = out.size() - stream.avail_out;
    inflateEnd(&stream);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
        return {};
    }
    out.truncate(produced);
    return out;
}

}  // namespace

QByteArray Rect(int xMin, int xMax, int yMin, int yMax) {
    const int bits = std::max({BitsFor(xMin), BitsFor(xMax), BitsFor(yMin), BitsFor(yMax)});
    BitWriter w;
    w.Put(static_cast<quint32>(bits), 5);
    for (int v : {xMin, xMax, yMin, yMax}) {
        w.PutSigned(v, bits);
    }
    return w.Take();
}

std::optional<QString> Incomplete(QIODevice& file) {
    const QByteArray head = file.read(8);
    if (head.size() < 8) {
        return QStringLiteral("cut: %1 bytes, shorter than a header").arg(head.size());
    }
    const QByteArray signature = head.left(3);
    const qint64 declared = qFromLittleEndian<quint32>(head.constData() + 4);
    constexpr qint64 kBlock = 256 * 1024;
    if (signature == "FWS") {
        const qint64 size = 8 + std::max<qint64>(0, file.size() - file.pos());
        if (size < declared) {
            return QStringLiteral("cut: %1 of %2 bytes").arg(size).arg(declared);
        }
        return std::nullopt;
    }
    if (signature == "ZWS") {
        const QByteArray stated = file.read(4);
        const qint64 compressed =
            stated.size() == 4 ? qFromLittleEndian<quint32>(stated.constData()) : -1;
        const qint64 size = std::max<qint64>(0, file.size() - file.pos()) - 5;
        if (compressed < 0 || size < compressed) {
            return QStringLiteral("cut: %1 of %2 compressed bytes")
                .arg(std::max<qint64>(size, 0))
                .arg(compressed);
        }
        return std::nullopt;
    }
    if (signature != "CWS") {
        return QStringLiteral("no Flash signature");
    }
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return QStringLiteral("cannot inflate");
    }
    QByteArray in(kBlock, Qt::Uninitialized);
    QByteArray out(kBlock, Qt::Uninitialized);
    qint64 inflated = 8;
    int status = Z_OK;
    while (status == Z_OK) {
        if (stream.avail_in == 0) {
            const qint64 got = file.read(in.data(), in.size());
            if (got <= 0) {
                break;
            }
            stream.next_in = reinterpret_cast<Bytef*>(in.data());
            stream.avail_in = static_cast<uInt>(got);
        }
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        status = inflate(&stream, Z_NO_FLUSH);
        inflated += out.size() - stream.avail_out;
        if (status == Z_BUF_ERROR && stream.avail_in == 0) {
            status = Z_OK;  // wants more input
        }
        if (inflated >= declared) {
            break;  // what lies beyond the declared length is not played
        }
    }
    inflateEnd(&stream);
    if (inflated >= declared) {
        return std::nullopt;
    }
    if (status != Z_OK && status != Z_STREAM_END) {
        return QStringLiteral("damaged: inflates to %1 of %2 bytes, then fails")
            .arg(inflated)
            .arg(declared);
    }
    return QStringLiteral("cut: inflates to %1 of %2 bytes").arg(inflated).arg(declared);
}

std::optional<Header> ReadHeader(const QByteArray& fileStart) {
    if (fileStart.size() < 8) {
        return std::nullopt;
    }
    const QByteArray signature = fileStart.left(3);
    Header header;
    header.version = static_cast<quint8>(fileStart[3]);
    QByteArray body;
    if (signature == "FWS") {
        body = fileStart.mid(8, kHeaderPrefix);
    } else if (signature == "CWS") {
        body = InflateStart(fileStart.mid(8, kHeaderPrefix), kHeaderPrefix);
        if (body.isEmpty()) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;  // "ZWS" (LZMA) is rare and not read here
    }
    BitReader bits(body, 0);
    const auto nbits = bits.Get(5);
    if (!nbits) {
        return std::nullopt;
    }
    const auto xMin = bits.GetSigned(static_cast<int>(*nbits));
    const auto xMax = bits.GetSigned(static_cast<int>(*nbits));
    const auto yMin = bits.GetSigned(static_cast<int>(*nbits));
    const auto yMax = bits.GetSigned(static_cast<int>(*nbits));
    if (!xMin || !xMax || !yMin || !yMax) {
        return std::nullopt;
    }
    header.stage = QRect(*xMin / 20, *yMin / 20, (*xMax - *xMin) / 20, (*yMax - *yMin) / 20);
    qsizetype pos = bits.BytePos();
    if (pos + 4 > body.size()) {
        return std::nullopt;
    }
    header.frameRate = static_cast<quint8>(body[pos + 1]) + static_cast<quint8>(body[pos]) / 256.0;
    header.frameCount = qFromLittleEndian<quint16>(body.constData() + pos + 2);
    pos += 4;
    // The background colour is a tag near the start; look at the first few tags.
    for (int i = 0; i < 8 && pos + 2 <= body.size(); ++i) {
        const quint16 codeAndLength = qFromLittleEndian<quint16>(body.constData() + pos);
        const int code = codeAndLength >> 6;
        qint64 tagLength = codeAndLength & 0x3F;
        pos += 2;
        if (tagLength == 0x3F) {
            if (pos + 4 > body.size()) {
                break;
            }
            tagLength = qFromLittleEndian<quint32>(body.constData() + pos);
            pos += 4;
        }
        if (code == 69 && i == 0 && tagLength >= 1 && pos + 1 <= body.size()) {
            header.actionScript3 = header.version >= 9 && (static_cast<quint8>(body[pos]) & 0x08);
        }
        if (code == 9 && tagLength >= 3 && pos + 3 <= body.size()) {
            header.background =
                QColor(static_cast<quint8>(body[pos]), static_cast<quint8>(body[pos + 1]),
                       static_cast<quint8>(body[pos + 2]));
            break;
        }
        if (code == 1 || code == 0) {
            break;  // the first frame is over
        }
        pos += tagLength;
    }
    return header;
}

Actions& Actions::Op(quint8 code) {
    bytes_.append(static_cast<char>(code));
    return *this;
}

Actions& Actions::Push(const QVariantList& values) {
    QByteArray payload;
    for (const QVariant& value : values) {
        if (!value.isValid()) {
            payload.append('\x03');  // undefined
        } else if (value.typeId() == QMetaType::Nullptr) {
            payload.append('\x02');
        } else if (value.typeId() == QMetaType::Bool) {
            payload.append('\x05');
            payload.append(value.toBool() ? '\x01' : '\x00');
        } else if (value.typeId() == QMetaType::Int) {
            payload.append('\x07');
            PutU32(payload, static_cast<quint32>(value.toInt()));
        } else if (value.typeId() == QMetaType::Double) {
            payload.append('\x06');
            // AVM1 doubles: the two 32-bit halves swapped.
            const double d = value.toDouble();
            quint64 raw;
            std::memcpy(&raw, &d, sizeof raw);
            PutU32(payload, static_cast<quint32>(raw >> 32));
            PutU32(payload, static_cast<quint32>(raw));
        } else {
            payload.append('\x00');
            payload.append(Utf8z(value.toString()));
        }
    }
    Op(0x96);
    PutU16(bytes_, static_cast<quint16>(payload.size()));
    bytes_.append(payload);
    return *this;
}

Actions& Actions::PushNull() {
    return Push({QVariant::fromValue(nullptr)});
}

Actions& Actions::PushUndefined() {
    return Push({QVariant()});
}

Actions& Actions::WithU16(quint8 code, quint16 value) {
    Op(code);
    PutU16(bytes_, 2);
    PutU16(bytes_, value);
    return *this;
}

Actions& Actions::GetUrl2(bool loadTarget, bool loadVariables) {
    Op(0x9A);
    PutU16(bytes_, 1);
    bytes_.append(static_cast<char>((loadVariables ? 0x80 : 0x00) | (loadTarget ? 0x40 : 0x00)));
    return *this;
}

Actions& Actions::DefineFunction(const QString& name, const QStringList& params,
                                 const Actions& body) {
    QByteArray payload = Utf8z(name);
    PutU16(payload, static_cast<quint16>(params.size()));
    for (const QString& param : params) {
        payload.append(Utf8z(param));
    }
    PutU16(payload, static_cast<quint16>(body.Size()));
    Op(0x9B);
    PutU16(bytes_, static_cast<quint16>(payload.size()));
    bytes_.append(payload);
    bytes_.append(body.Bytes());
    return *this;
}

Actions& Actions::If(qint16 bytes) {
    return WithU16(0x9D, static_cast<quint16>(bytes));
}

Actions& Actions::PushPath(const QString& path) {
    const QStringList parts = path.split('.');
    PushString(parts.first()).GetVariable();
    for (qsizetype i = 1; i < parts.size(); ++i) {
        PushString(parts[i]).GetMember();
    }
    return *this;
}

Actions& Actions::CallMethodOn(const QString& objectPath, const QString& method, int argCount,
                               bool keepResult) {
    Push({argCount});
    PushPath(objectPath);
    PushString(method);
    CallMethod();
    if (!keepResult) {
        Pop();
    }
    return *this;
}

Writer::Writer(int version, QSize stage, double frameRate)
    : version_(version), stage_(stage), frameRate_(frameRate) {}

void Writer::Tag(int code, const QByteArray& body) {
    if (body.size() < 0x3F) {
        PutU16(tags_, static_cast<quint16>((code << 6) | body.size()));
    } else {
        PutU16(tags_, static_cast<quint16>((code << 6) | 0x3F));
        PutU32(tags_, static_cast<quint32>(body.size()));
    }
    tags_.append(body);
}

void Writer::SetBackground(QColor colour) {
    Tag(9, Rgb(colour));
}

void Writer::AddRectangle(int id, const QRect& rect, QColor colour, int depth) {
    // DefineShape: bounds, one solid fill, no line styles, four straight edges.
    QByteArray body;
    PutU16(body, static_cast<quint16>(id));
    const int x0 = rect.left() * 20, y0 = rect.top() * 20;
    const int x1 = (rect.left() + rect.width()) * 20, y1 = (rect.top() + rect.height()) * 20;
    body.append(Rect(x0, x1, y0, y1));
    body.append('\x01');  // one fill style
    body.append('\x00');  // solid
    body.append(Rgb(colour));
    body.append('\x00');  // no line styles
    BitWriter shape;
    shape.Put(1, 4);  // fill bits
    shape.Put(0, 4);  // line bits
    // Style change: move to (x0, y0), fill style 1.
    shape.Put(0, 1);
    shape.Put(0b00011, 5);  // StateFillStyle0 | StateMoveTo
    const int moveBits = std::max(BitsFor(x0), BitsFor(y0));
    shape.Put(static_cast<quint32>(moveBits), 5);
    shape.PutSigned(x0, moveBits);
    shape.PutSigned(y0, moveBits);
    shape.Put(1, 1);  // fill style 0 = 1
    const auto edge = [&](int dx, int dy) {
        const int bits = std::max(BitsFor(dx), BitsFor(dy));
        shape.Put(1, 1);  // edge
        shape.Put(1, 1);  // straight
        shape.Put(static_cast<quint32>(bits - 2), 4);
        if (dx != 0 && dy != 0) {
            shape.Put(1, 1);
            shape.PutSigned(dx, bits);
            shape.PutSigned(dy, bits);
        } else {
            shape.Put(0, 1);
            shape.Put(dx == 0 ? 1 : 0, 1);  // vertical?
            shape.PutSigned(dx == 0 ? dy : dx, bits);
        }
    };
    edge(x1 - x0, 0);
    edge(0, y1 - y0);
    edge(x0 - x1, 0);
    edge(0, y0 - y1);
    shape.Put(0, 6);  // end of shape
    body.append(shape.Take());
    Tag(2, body);
    Place(id, depth);
}

void Writer::Place(int id, int depth) {
    QByteArray place;
    place.append('\x06');  // has character, has matrix
    PutU16(place, static_cast<quint16>(depth));
    PutU16(place, static_cast<quint16>(id));
    place.append('\x00');  // identity matrix
    Tag(26, place);
}

void Writer::Move(int depth, QPoint offset) {
    QByteArray place;
    place.append('\x05');  // move, has matrix
    PutU16(place, static_cast<quint16>(depth));
    const int x = offset.x() * 20, y = offset.y() * 20;
    const int bits = std::max(BitsFor(x), BitsFor(y));
    BitWriter matrix;
    matrix.Put(0, 1);  // no scale
    matrix.Put(0, 1);  // no rotation
    matrix.Put(static_cast<quint32>(bits), 5);
    matrix.PutSigned(x, bits);
    matrix.PutSigned(y, bits);
    place.append(matrix.Take());
    Tag(26, place);
}

void Writer::AddTextField(int id, const QRect& rect, const QString& variable, const QString& text,
                          QColor colour, int height, int depth) {
    // A device font without glyphs: the player draws the text with a font of its own.
    QByteArray font;
    PutU16(font, static_cast<quint16>(id + 1));
    font.append('\x04');  // wide codes
    font.append('\x01');  // Latin
    const QByteArray name = "_sans";
    font.append(static_cast<char>(name.size()));
    font.append(name);
    PutU16(font, 0);  // no glyphs
    PutU16(font, 0);
    Tag(48, font);

    QByteArray body;
    PutU16(body, static_cast<quint16>(id));
    body.append(Rect(rect.left() * 20, (rect.left() + rect.width()) * 20, rect.top() * 20,
                     (rect.top() + rect.height()) * 20));
    // HasText, WordWrap, Multiline, ReadOnly, HasTextColor, HasFont
    body.append(static_cast<char>(0x80 | 0x40 | 0x20 | 0x08 | 0x04 | 0x01));
    // HasLayout, NoSelect
    body.append(static_cast<char>(0x20 | 0x10));
    PutU16(body, static_cast<quint16>(id + 1));
    PutU16(body, static_cast<quint16>(height * 20));
    body.append(Rgb(colour));
    body.append('\xff');
    body.append('\x02');  // centred
    PutU16(body, 0);      // left margin
    PutU16(body, 0);      // right margin
    PutU16(body, 0);      // indent
    PutU16(body, 0);      // leading
    body.append(Utf8z(variable));
    body.append(Utf8z(text));
    Tag(37, body);
    Place(id, depth);
}

void Writer::AddActions(const Actions& actions) {
    Tag(12, actions.Bytes() + QByteArray(1, '\0'));
}

void Writer::SetFileAttributes(bool actionScript3) {
    QByteArray body;
    PutU32(body, actionScript3 ? 0x08 : 0x00);
    Tag(69, body);
}

void Writer::AddAbc(const QByteArray& abc, const QString& mainClass) {
    QByteArray doAbc;
    PutU32(doAbc, 1);  // lazy: the class runs when the timeline is made of it
    doAbc.append(Utf8z(QString()));
    doAbc.append(abc);
    Tag(82, doAbc);
    QByteArray symbols;
    PutU16(symbols, 1);
    PutU16(symbols, 0);  // character 0: the main timeline
    symbols.append(Utf8z(mainClass));
    Tag(76, symbols);
}

void Writer::ShowFrame() {
    Tag(1, {});
    ++frames_;
}

QByteArray Writer::Finish(bool compress) {
    Tag(0, {});
    QByteArray body = Rect(0, stage_.width() * 20, 0, stage_.height() * 20);
    const int rate = static_cast<int>(std::lround(frameRate_ * 256));
    body.append(static_cast<char>(rate & 0xFF));
    body.append(static_cast<char>((rate >> 8) & 0xFF));
    PutU16(body, static_cast<quint16>(frames_));
    body.append(tags_);
    QByteArray file = compress ? "CWS" : "FWS";
    file.append(static_cast<char>(version_));
    PutU32(file, static_cast<quint32>(body.size() + 8));
    if (compress) {
        file.append(qCompress(body).mid(4));  // without Qt's length prefix
    } else {
        file.append(body);
    }
    return file;
}

}  // namespace swf
