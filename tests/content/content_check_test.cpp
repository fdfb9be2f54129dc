#include "content/content_check.h"
#include "platform/vlc/vlc_media_probe.h"
#include "support/media_files.h"
#include "swf/swf.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace {

using content::Refusal;

QByteArray Movie(bool compressed, int frames = 3) {
    swf::Writer w(8, QSize(320, 240), 12);
    w.SetBackground(Qt::darkBlue);
    for (int i = 0; i < frames; ++i) {
        w.AddRectangle(i + 1, QRect(i * 10, 10, 50, 50), Qt::yellow, i + 1);
        w.ShowFrame();
    }
    return w.Finish(compressed);
}

QByteArray Picture(const char* format, QSize size = QSize(640, 480)) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            image.setPixel(x, y, qRgb(x * 7 % 256, y * 3 % 256, (x ^ y) % 256));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray Half(const QByteArray& bytes) {
    return bytes.left(bytes.size() / 2);
}

const QByteArray kPage =
    "\xef\xbb\xbf\n  <!DOCTYPE html>\n<html><head><title>Maintenance</title></head>"
    "<body>Back soon</body></html>\n";

class ContentCheck : public ::testing::Test {
  protected:
    QString Write(const QString& name, const QByteArray& bytes) {
        const QString path = temp.path() + '/' + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        return path;
    }
    std::optional<Refusal> Verdict(const QString& name, const QByteArray& bytes,
                                   platform::MediaProbe* probe = nullptr) {
        const auto refused = content::Inspect(Write(name, bytes), name, probe);
        return refused ? std::optional(refused->refusal) : std::nullopt;
    }
    QTemporaryDir temp;
};

// Each kind of file against what a host, an editor or a half-done upload serves under its
// name; nullopt: it may replace the file in place.
TEST_F(ContentCheck, RefusesWhatIsNotWhatItsNameSays) {
    const QByteArray jpeg = Picture("JPG");
    const QByteArray png = Picture("PNG");
    const QByteArray movie = Movie(false);
    const QByteArray compressed = Movie(true);
    QByteArray oldVersion = movie;
    oldVersion[3] = 0;
    QByteArray trailer = jpeg + QByteArray(4096, '\x5a');  // bytes after the end, as phones add
    // A camera's picture: a thumbnail (a whole JPEG, end marker and all) in its header.
    const QByteArray thumb = Picture("JPG", QSize(64, 48));
    QByteArray app1 = QByteArray("\xFF\xE1", 2);
    const int length = 2 + 6 + static_cast<int>(thumb.size());
    app1 += static_cast<char>(length >> 8);
    app1 += static_cast<char>(length & 0xFF);
    app1 += QByteArray("Exif\0\0", 6) + thumb;
    const QByteArray camera = jpeg.left(2) + app1 + jpeg.mid(2);
    // Larger than the blocks a picture's end is read in, from the end backwards: the end
    // marker split across two blocks, one found only several blocks back, none at all.
    const QByteArray large = Picture("JPG", QSize(1600, 1200));
    const QByteArray split = jpeg + QByteArray(65535, '\x5a');
    const QByteArray gif(  // one pixel (Qt writes no GIF)
        "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00"
        "\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02"
        "D\x01\x00;",
        43);
    struct Case {
        const char* name;
        QByteArray bytes;
        std::optional<Refusal> verdict;
    } cases[] = {
        {"dravonelle.swf", movie, std::nullopt},
        {"dravonelle.swf", compressed, std::nullopt},
        {"dravonelle.swf", movie + "tail", std::nullopt},
        {"dravonelle.swf", kPage, Refusal::kHtml},
        {"dravonelle.swf", "", Refusal::kEmpty},
        {"dravonelle.swf", Half(movie), Refusal::kCut},
        {"dravonelle.swf", Half(compressed), Refusal::kCut},
        {"dravonelle.swf", QByteArray(5000, 'x'), Refusal::kNotFlash},
        {"dravonelle.swf", oldVersion, Refusal::kNotFlash},
        {"News.SWF", kPage, Refusal::kHtml},
        {"a.jpg", jpeg, std::nullopt},
        {"a.jpg", trailer, std::nullopt},
        {"a.jpg", png, std::nullopt},  // a picture all the same
        {"a.jpg", Half(jpeg), Refusal::kCut},
        {"camera.jpg", camera, std::nullopt},
        {"camera.jpg", Half(camera), Refusal::kCut},
        {"a.jpg", jpeg.left(200), Refusal::kCut},
        {"b.png", png, std::nullopt},
        {"b.png", Half(png), Refusal::kCut},
        {"big.jpg", large, std::nullopt},
        {"big.jpg", Half(large), Refusal::kCut},
        {"big.jpg", large + QByteArray(200000, '\x5a'), std::nullopt},
        {"split.jpg", split, std::nullopt},
        {"c.gif", gif, std::nullopt},
        {"c.gif", gif + QByteArray(150000, '\0'), std::nullopt},  // padded
        {"c.gif", gif.chopped(1), Refusal::kCut},
        {"a.jpg", QByteArray(700, 'a'), Refusal::kNotPicture},
        {"weerbericht.jpg", kPage, Refusal::kHtml},
        {"weerbericht.jpg", "", Refusal::kEmpty},
        {"file.txt", "a.jpg;s1;700", std::nullopt},
        {"file.txt", "", std::nullopt},
        {"flash.txt", "<b>tekst</b>=1", std::nullopt},
        {"file.txt", kPage, Refusal::kHtml},
        {"clip.mpg", kPage, Refusal::kHtml},
        {"clip.mpg", "", Refusal::kEmpty},
        {"clip.mpg", QByteArray(700, 'a'), std::nullopt},  // not looked into without a probe
        {"notes.dat", "", std::nullopt},
        {"page.html", kPage, std::nullopt},
        {"notes.dat", kPage, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " of " + std::to_string(c.bytes.size()) + " bytes");
        EXPECT_EQ(Verdict(c.name, c.bytes), c.verdict);
    }
}

// Flash movies that nobody here wrote (Ruffle's test suite) pass whole, and each one cut
// short is refused.
TEST_F(ContentCheck, RealMoviesPassWholeAndNotCut) {
    const QDir movies(QStringLiteral(DRAVONELLE_TEST_DATA) + "/data/realmovies");
    const QStringList names = movies.entryList({"*.swf"}, QDir::Files);
    ASSERT_FALSE(names.isEmpty());
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        QFile file(movies.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_EQ(Verdict(name, bytes), std::nullopt);
        EXPECT_EQ(Verdict(name, bytes.left(bytes.size() - 16)), Refusal::kCut);
        EXPECT_FALSE(content::InspectMovieStart(Write(name, bytes)));
    }
}

// What can be told from a movie's start on the window's thread, without inflating it.
TEST_F(ContentCheck, MovieStartTellsWhatItCanWithoutInflating) {
    const QByteArray movie = Movie(false), compressed = Movie(true);
    struct Case {
        const char* what;
        std::optional<QByteArray> bytes;  // none: no file
        std::optional<Refusal> verdict;
    } cases[] = {
        {"whole", movie, std::nullopt},
        {"compressed", compressed, std::nullopt},
        {"compressed, cut (told only when read whole)", Half(compressed), std::nullopt},
        {"cut", Half(movie), Refusal::kCut},
        {"page", kPage, Refusal::kHtml},
        {"empty", QByteArray(), Refusal::kEmpty},
        {"missing", std::nullopt, Refusal::kUnreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = temp.path() + "/m.swf";
        QFile::remove(path);
        if (c.bytes) {
            Write("m.swf", *c.bytes);
        }
        const auto refused = content::InspectMovieStart(path);
        EXPECT_EQ(refused ? std::optional(refused->refusal) : std::nullopt, c.verdict);
    }
}

TEST(LooksLikeHtml, TellsPagesFromContent) {
    struct Case {
        const char* start;
        bool html;
    } cases[] = {
        {"<!DOCTYPE html><html>", true},
        {"  \r\n<HTML lang=nl>", true},
        {"<?xml version=\"1.0\"?>\n<!DOCTYPE html PUBLIC>", true},
        {"<!-- proxy -->\n<html>", true},
        {"<head><title>x</title>", true},
        {"<body>", true},
        {"<b>tekst</b>", false},
        {"a.jpg;s1;700", false},
        {"FWS\x08", false},
        {"<!-- just a comment", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(content::LooksLikeHtml(c.start), c.html) << c.start;
    }
}

// Films and sound files, looked into by libVLC itself.
TEST_F(ContentCheck, MediaNeedAStreamTheEngineFinds) {
    platform::VlcMediaProbe probe;
    const QString wav = temp.path() + "/tone.wav";
    const QString avi = temp.path() + "/clip.avi";
    ASSERT_TRUE(media_files::WriteWav(wav, 500));
    ASSERT_TRUE(media_files::WriteAvi(avi, 64, 48, 10, 10, Qt::red));
    const auto read = [](const QString& path) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    };
    // An MPEG program stream lists its streams only once it is read.
    const QString mpg = temp.path() + "/program.mpg";
    ASSERT_EQ(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                           "testsrc=duration=1:size=160x120:rate=25", "-c:v",
                                           "mpeg1video", "-f", "mpeg", mpg}),
              0);
    QByteArray noise(200000, '\0');
    for (qsizetype i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<char>((i * 7919 + i / 13) % 251);
    }
    struct Case {
        const char* name;
        QByteArray bytes;
        std::optional<Refusal> verdict;
    } cases[] = {
        {"tone.wav", read(wav), std::nullopt},
        {"clip.avi", read(avi), std::nullopt},
        {"clip.mpg", read(avi), std::nullopt},  // the engine goes by content, not name
        {"clip.mpg", read(mpg), std::nullopt},
        {"clip.avi", read(avi).left(100), Refusal::kNoStream},
        {"clip.mpg", noise, Refusal::kNoStream},
        {"song.mp3", kPage, Refusal::kHtml},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Verdict(c.name, c.bytes, &probe), c.verdict);
    }
}

}  // namespace
