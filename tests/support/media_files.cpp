#include "support/media_files.h"

#include <QFile>
#include <QtEndian>

#include <cmath>

namespace media_files {

bool WriteWav(const QString& path, int ms) {
    const int rate = 8000;
    const int samples = rate * ms / 1000;
    QByteArray data(samples * 2, 0);
    for (int i = 0; i < samples; ++i) {
        const auto value = static_cast<qint16>(8000 * std::sin(2 * M_PI * 440 * i / rate));
        qToLittleEndian(value, data.data() + 2 * i);
    }
    QByteArray header;
    const auto u32 = [&](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        header.append(b, 4);
    };
    const auto u16 = [&](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        header.append(b, 2);
    };
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

}  // namespace media_files
