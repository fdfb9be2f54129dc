// The picture as a station's output shows it: the program on a real X server, with and
// without a window manager, and the whole screen grabbed.
#include "platform/visual_control.h"
#include "support/media_files.h"
#include "support/station.h"
#include "support/test_rig.h"
#include "swf/swf.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>

#include <gtest/gtest.h>

namespace {

constexpr QSize kStage(800, 600);
const QColor kBackground(20, 40, 90);
const QColor kMarker(250, 220, 60);
// Markers near the stage's corners, clear of the corner buttons at every scale.
const QList<QRect> kMarkers = {QRect(40, 40, 10, 10), QRect(750, 40, 10, 10),
                               QRect(40, 550, 10, 10), QRect(750, 550, 10, 10)};

// The background with its markers; with `filmArgs`, the movie asks for that film after
// three seconds, then stops.
QByteArray MainMovie(const QString& filmArgs = QString()) {
    swf::Writer w(8, kStage, 12);
    w.SetBackground(kBackground);
    for (int i = 0; i < kMarkers.size(); ++i) {
        w.AddRectangle(i + 1, kMarkers[i], kMarker, i + 1);
    }
    for (int frame = 0; frame < (filmArgs.isEmpty() ? 1 : 36); ++frame) {
        if (frame == 35) {
            w.AddActions(
                swf::Actions().PushString("FSCommand:film").PushString(filmArgs).GetUrl2().Stop());
        }
        w.ShowFrame();
    }
    return w.Finish(true);
}

bool Near(QRgb pixel, QColor colour, int tolerance = 8) {
    return std::abs(qRed(pixel) - colour.red()) <= tolerance &&
           std::abs(qGreen(pixel) - colour.green()) <= tolerance &&
           std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

// The share of `area` that shows `colour`, give or take what a film's colour conversion
// changes.
double Share(const QImage& grab, const QRect& area, QColor colour) {
    if (grab.isNull()) {
        return 0;
    }
    const QImage image = grab.convertToFormat(QImage::Format_RGB32);
    qint64 seen = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            seen += Near(line[x], colour, 32);
        }
    }
    return double(seen) / (qint64(area.width()) * area.height());
}

// The two corner buttons ("O" and "X"), in front of the movie.
QRect CornerButtons() {
    return QRect(0, 0, platform::TwipsToPixels(240 + 255), platform::TwipsToPixels(255));
}

// What a grab shows of the main movie.
struct Picture {
    double background = 0;  // the share of the screen, apart from the buttons
    QString misplaced;      // the markers not where the whole stage, aspect kept, puts them
    bool Fills() const { return background >= 0.99 && misplaced.isEmpty(); }
    std::string Describe() const {
        return QStringLiteral("background covers %1 %%2")
            .arg(background * 100, 0, 'f', 2)
            .arg(misplaced)
            .toStdString();
    }
};

Picture Look(const QImage& grab) {
    Picture p;
    if (grab.isNull()) {
        p.misplaced = QStringLiteral("; no grab");
        return p;
    }
    const QImage image = grab.convertToFormat(QImage::Format_RGB32);
    const QSize size = image.size();
    const double scale =
        std::min(double(size.width()) / kStage.width(), double(size.height()) / kStage.height());
    const QPointF origin((size.width() - kStage.width() * scale) / 2,
                         (size.height() - kStage.height() * scale) / 2);
    QList<QRect> found(4);  // each marker in its quarter of the screen
    qint64 background = 0;
    const QRect buttons = CornerButtons();
    for (int y = 0; y < size.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            if (buttons.contains(x, y)) {
                continue;
            }
            if (Near(line[x], kBackground)) {
                ++background;
            } else if (Near(line[x], kMarker)) {
                QRect& r = found[(y >= size.height() / 2) * 2 + (x >= size.width() / 2)];
                r = r.isNull() ? QRect(x, y, 1, 1) : r.united(QRect(x, y, 1, 1));
            }
        }
    }
    p.background = double(background) / (qint64(size.width()) * size.height() -
                                         qint64(buttons.width()) * buttons.height());
    for (int i = 0; i < 4; ++i) {
        const QRectF wanted(origin + kMarkers[i].topLeft() * scale, kMarkers[i].size() * scale);
        const QRect& got = found[i];
        // Edges drawn with anti-aliasing may take a pixel more or less.
        const bool close = !got.isNull() && std::abs(got.left() - wanted.left()) <= 2 &&
                           std::abs(got.top() - wanted.top()) <= 2 &&
                           std::abs(got.right() + 1 - wanted.right()) <= 2 &&
                           std::abs(got.bottom() + 1 - wanted.bottom()) <= 2;
        if (!close) {
            p.misplaced += QStringLiteral("; marker %1 at %2,%3 %4x%5, wanted %6,%7 %8x%9")
                               .arg(i)
                               .arg(got.x())
                               .arg(got.y())
                               .arg(got.width())
                               .arg(got.height())
                               .arg(wanted.x(), 0, 'f', 1)
                               .arg(wanted.y(), 0, 'f', 1)
                               .arg(wanted.width(), 0, 'f', 1)
                               .arg(wanted.height(), 0, 'f', 1);
        }
    }
    return p;
}

class ScreenTest : public ::testing::Test {
  protected:
    // The program, drawn as under a desktop session (xcb) unless `environment` says else.
    void StartStation(const XServer& x,
                      const QMap<QString, QString>& environment = {{"QT_QPA_PLATFORM", "xcb"}},
                      const QString& program = QString(), const QStringList& arguments = {}) {
        if (!QFileInfo::exists(station.DriveFolder() + "/fileftp/dravonelle.swf")) {
            station.WriteDriveFile("fileftp/dravonelle.swf", MainMovie());
        }
        station.NoSite();
        QMap<QString, QString> env = {{"DISPLAY", x.Display()}};
        env.insert(environment);
        station.Start(env, program, arguments);
        // A start that stalls inside the web engine's set-up, before the window exists, has
        // been seen about once in 25 starts with two engines starting at once. It is not
        // what these tests look at: its threads go in the output, and it starts once more.
        if (!PumpUntil([&] { return Started() || !station.Running(); }, 40000) &&
            station.Running()) {
            QProcess gdb;
            gdb.start("gdb", {"-batch", "-p", QString::number(station.Pid()), "-ex",
                              "thread apply all bt 20"});
            gdb.waitForFinished(60000);
            std::fprintf(stderr, "start-up stalled; its threads:\n%s\n",
                         gdb.readAllStandardOutput().constData());
            station.Stop();
            station.Start(env, program, arguments);
        }
    }

    bool Started() { return station.Log().contains("push server listening"); }

    // Waits until the grab shows the main movie over the whole screen.
    ::testing::AssertionResult FillsTheScreen(const XServer& x, int ms = 60000) {
        Picture last;
        const bool filled = PumpUntil(
            [&] {
                last = Look(x.Grab());
                return last.Fills() || !station.Running();
            },
            ms);
        if (filled && last.Fills()) {
            return ::testing::AssertionSuccess();
        }
        x.Grab().save(station.Folder() + "/../screen-failure.png");
        return ::testing::AssertionFailure()
               << last.Describe() << "\nprogram: " << station.State().toStdString()
               << "\nwindows:\n"
               << x.WindowTree().toStdString() << "\nlog:\n"
               << station.Log().right(4000).toStdString();
    }

    Station station;
};

struct Output {
    QSize size;
    const char* windowManager;  // "" for none
};

void PrintTo(const Output& output, std::ostream* out) {
    *out << output.size.width() << "x" << output.size.height() << " "
         << (*output.windowManager ? output.windowManager : "without a window manager");
}

class EveryOutput : public ScreenTest, public ::testing::WithParamInterface<Output> {};

TEST_P(EveryOutput, MainMovieCoversTheScreen) {
    XServer x(GetParam().size);
    ASSERT_TRUE(x.Started());
    if (*GetParam().windowManager) {
        ASSERT_TRUE(x.StartWindowManager(GetParam().windowManager));
    }
    StartStation(x);
    EXPECT_TRUE(FillsTheScreen(x));
}

INSTANTIATE_TEST_SUITE_P(
    Screen, EveryOutput,
    ::testing::Values(Output{{1920, 1080}, ""}, Output{{1280, 720}, ""}, Output{{1024, 768}, ""},
                      Output{{720, 576}, ""}, Output{{1920, 1080}, "matchbox-window-manager"},
                      Output{{1280, 720}, "matchbox-window-manager"},
                      Output{{1024, 768}, "openbox"}, Output{{720, 576}, "openbox"}),
    [](const auto& info) {
        QString name = QStringLiteral("%1x%2_%3")
                           .arg(info.param.size.width())
                           .arg(info.param.size.height())
                           .arg(*info.param.windowManager ? info.param.windowManager : "bare");
        return name.replace('-', '_').toStdString();
    });

TEST_F(ScreenTest, PictureFollowsASizeChangeWhileItRuns) {
    XServer x({1920, 1080});
    ASSERT_TRUE(x.Started());
    StartStation(x);
    ASSERT_TRUE(FillsTheScreen(x));
    for (const QSize size : {QSize(1280, 720), QSize(720, 576), QSize(1920, 1080)}) {
        SCOPED_TRACE(QStringLiteral("%1x%2").arg(size.width()).arg(size.height()).toStdString());
        ASSERT_TRUE(x.SetSize(size));
        EXPECT_TRUE(FillsTheScreen(x, 2000 + 3000));  // 2 s to follow, and a grab's time
    }
}

// [system] screen names an output; one that is not there leaves the primary screen, and
// the log says which names there are.
TEST_F(ScreenTest, NamedScreenOrThePrimaryOne) {
    for (const char* name : {"SCREEN", "HDMI-9"}) {
        SCOPED_TRACE(name);
        XServer x({1024, 768});
        ASSERT_TRUE(x.Started());
        station.settings["system/screen"] = name;
        StartStation(x);
        EXPECT_TRUE(FillsTheScreen(x));
        station.Stop();
        EXPECT_EQ(station.Log().contains("no screen HDMI-9 (screens: screen)"),
                  QString(name) == "HDMI-9")
            << station.Log().toStdString();
    }
}

// A window manager that maps every subwindow of the windows it takes (matchbox) must
// not show the film's window while no film plays: before, and after the film.
TEST_F(ScreenTest, FilmUnderAWindowManagerShowsOnlyWhileItPlays) {
    XServer x({1280, 720});
    ASSERT_TRUE(x.Started());
    ASSERT_TRUE(x.StartWindowManager("matchbox-window-manager"));
    const QColor red(200, 30, 30);
    QTemporaryDir films;
    ASSERT_TRUE(media_files::WriteY4m(films.path() + "/clip.y4m", 160, 120, 75, 25, red));
    QFile clip(films.path() + "/clip.y4m");
    ASSERT_TRUE(clip.open(QIODevice::ReadOnly));
    station.WriteDriveFile("fileftp/clip.y4m", clip.readAll());
    station.WriteDriveFile("fileftp/dravonelle.swf", MainMovie("film:clip.y4m(25,25,75,75)"));
    StartStation(x);
    EXPECT_TRUE(FillsTheScreen(x, 30000)) << "before the film";
    const QRect placed(320, 180, 640, 360);
    EXPECT_TRUE(PumpUntil([&] { return Share(x.Grab(), placed, red) > 0.9; }, 30000))
        << "the film never showed in its place\n"
        << station.Log().right(3000).toStdString();
    EXPECT_TRUE(FillsTheScreen(x, 30000)) << "after the film";
}

// The service's own start line, in the environment the kiosk session gives it: no
// platform chosen, no window manager.
TEST_F(ScreenTest, KioskStartLineFillsTheScreen) {
    QFile unit(DRAVONELLE_SOURCE_DIR "/packaging/dravonelle.service");
    ASSERT_TRUE(unit.open(QIODevice::ReadOnly));
    const QRegularExpression exec(QStringLiteral("^ExecStart=(\\S+)(.*)$"),
                                  QRegularExpression::MultilineOption);
    const auto line = exec.match(QString::fromUtf8(unit.readAll()));
    ASSERT_TRUE(line.hasMatch());
    ASSERT_EQ(line.captured(1), "/usr/bin/dravonelle");
    XServer x({1920, 1080});
    ASSERT_TRUE(x.Started());
    StartStation(x, {}, DRAVONELLE_BINARY, line.captured(2).split(' ', Qt::SkipEmptyParts));
    EXPECT_TRUE(FillsTheScreen(x));
}

}  // namespace
