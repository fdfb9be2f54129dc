#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>

// Media files that the tests make for themselves.
namespace media_files {

// A WAV file of `ms` milliseconds of a 440 Hz tone, 8 kHz mono, 16-bit.
bool WriteWav(const QString& path, int ms);

// A YUV4MPEG2 video of `frames` frames of one colour at `fps`.
bool WriteY4m(const QString& path, int width, int height, int frames, int fps, QColor colour);

// An AVI film of `frames` frames of one colour at `fps` (uncompressed, `width` a multiple
// of 4) with the 440 Hz tone of WriteWav as its sound, for as long as the picture.
bool WriteAvi(const QString& path, int width, int height, int frames, int fps, QColor colour);

}  // namespace media_files
