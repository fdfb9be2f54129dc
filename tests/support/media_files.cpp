#include "support/media_files.h"

#include <QFile>
#include <QtEndian>

#include <cmath>

namespace media_files {

namespace {

constexpr int kRate = 8000;

// 16-bit mono samples of the tone, from sample `from` on.
QByteArray Tone(int from, int samples) {
    QByteArray data(samples * 2, 0);
    for (int i = 0; i < samples; ++i) {
        const auto value =
            static_cast<qint16>(8000 * std::sin(2 * M_PI * 440 * (from + i) / kRate));
        qToLittleEndian(value, data.data() + 2 * i);
    }
    return data;
}

struct Little {
    QByteArray* out;
    void u32(quint32 v) const {
        char b[4];
        qToLittleEndian(v, b);
        out->append(b, 4);
    }
    void u16(quint16 v) const {
        char b[2];
        qToLittleEndian(v, b);
        out->append(b, 2);
    }
};

// A RIFF chunk (or, with a `list` type, a LIST of chunks), padded to an even size.
QByteArray Chunk(const char* id, const QByteArray& body, const char* list = nullptr) {
    QByteArray out = list ? QByteArray("LIST") : QByteArray(id);
    const QByteArray content = list ? QByteArray(list) + body : body;
    Little{&out}.u32(static_cast<quint32>(content.size()));
    out += content;
    if (out.size() % 2) {
        out += '\0';
    }
    return out;
}

}  // namespace

bool WriteWav(const QString& path, int ms) {
    const int rate = kRate;
    const QByteArray data = Tone(0, rate * ms / 1000);
    QByteArray header;
    const Little le{&header};
    const auto u32 = [&](quint32 v) { le.u32(v); };
    const auto u16 = [&](quint16 v) { le.u16(v); };
    header += "RIFF";
    u32(36 + static_cast<quint32>(data.size()));
    header += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    header += "data";
    u32(static_cast<quint32>(data.size()));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(header + data) == header.size() + data.size();
}

bool WriteY4m(const QString& path, int width, int height, int frames, int fps, QColor colour) {
    // BT.601 limited range.
    const double r = colour.red(), g = colour.green(), b = colour.blue();
    const auto y = static_cast<char>(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255);
    const auto u = static_cast<char>(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255);
    const auto v = static_cast<char>(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255);
    QByteArray frame = "FRAME\n";
    frame += QByteArray(width * height, y);
    frame += QByteArray(width * height / 4, u);
    frame += QByteArray(width * height / 4, v);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(QString("YUV4MPEG2 W%1 H%2 F%3:1 Ip A1:1 C420jpeg\n")
                   .arg(width)
                   .arg(height)
                   .arg(fps)
                   .toLatin1());
    for (int i = 0; i < frames; ++i) {
        file.write(frame);
    }
    return true;
}

bool WriteAvi(const QString& path, int width, int height, int frames, int fps, QColor colour) {
    const int frameBytes = width * height * 3;
    const int samplesPerFrame = kRate / fps;
    QByteArray avih;
    Little a{&avih};
    a.u32(static_cast<quint32>(1000000 / fps));
    a.u32(static_cast<quint32>(frameBytes * fps));
    for (quint32 v :
         {0u, 0x10u, static_cast<quint32>(frames), 0u, 2u, static_cast<quint32>(frameBytes),
          static_cast<quint32>(width), static_cast<quint32>(height), 0u, 0u, 0u, 0u}) {
        a.u32(v);
    }
    const auto streamHeader = [&](const char* type, quint32 scale, quint32 rate, quint32 length,
                                  quint32 sampleSize) {
        QByteArray h = type;
        Little l{&h};
        h += QByteArray(4, '\0');
        for (quint32 v : {0u, 0u, 0u, scale, rate, 0u, length, 0u, 0xFFFFFFFFu, sampleSize}) {
            l.u32(v);
        }
        l.u16(0), l.u16(0), l.u16(static_cast<quint16>(width)), l.u16(static_cast<quint16>(height));
        return Chunk("strh", h);
    };
    QByteArray bitmap;
    Little b{&bitmap};
    b.u32(40), b.u32(static_cast<quint32>(width)), b.u32(static_cast<quint32>(height));
    b.u16(1), b.u16(24), b.u32(0), b.u32(static_cast<quint32>(frameBytes));
    b.u32(0), b.u32(0), b.u32(0), b.u32(0);
    QByteArray wave;
    Little w{&wave};
    w.u16(1), w.u16(1), w.u32(kRate), w.u32(kRate * 2), w.u16(2), w.u16(16);
    const QByteArray hdrl =
        Chunk("avih", avih) +
        Chunk("",
              streamHeader("vids", 1, static_cast<quint32>(fps), static_cast<quint32>(frames), 0) +
                  Chunk("strf", bitmap),
              "strl") +
        Chunk("",
              streamHeader("auds", 1, kRate, static_cast<quint32>(frames * samplesPerFrame), 2) +
                  Chunk("strf", wave),
              "strl");
    QByteArray pixel(3, '\0');
    pixel[0] = static_cast<char>(colour.blue());
    pixel[1] = static_cast<char>(colour.green());
    pixel[2] = static_cast<char>(colour.red());
    const QByteArray picture = pixel.repeated(width * height);
    QByteArray movi;
    for (int i = 0; i < frames; ++i) {
        movi += Chunk("00db", picture);
        movi += Chunk("01wb", Tone(i * samplesPerFrame, samplesPerFrame));
    }
    const QByteArray body = Chunk("", hdrl, "hdrl") + Chunk("", movi, "movi");
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(Chunk("RIFF", QByteArray("AVI ") + body)) > 0;
}

}  // namespace media_files
