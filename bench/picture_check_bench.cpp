// What the program's look at its own picture costs: a thumbnail of a full-screen window,
// taken as the self-check takes it, against the whole screen grabbed and made small.
// Runs on the X server named by DISPLAY, e.g.
//   xvfb-run -s "-screen 0 1920x1080x24" build-bench/bench/picture_check_bench
#include "bench_support.h"
#include "platform/qt/screen_grabber.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

// A picture that changes every frame, as a channel's page does.
class Moving : public QWidget {
  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(20, 40, 90));
        p.fillRect(QRect((frame_ * 7) % width(), height() / 3, 200, 120), Qt::yellow);
        ++frame_;
    }

  private:
    int frame_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "picture_check_bench: needs an X server (DISPLAY)\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    const int rounds = static_cast<int>(bench::IntArg(app.arguments(), "--rounds", 200));
    Moving window;
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.setGeometry(window.screen()->geometry());
    window.show();
    QTimer repaint;
    QObject::connect(&repaint, &QTimer::timeout, &window, [&] { window.update(); });
    repaint.start(40);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1000) {
        app.processEvents(QEventLoop::AllEvents, 50);
    }
    platform::QtPictureGrabber grabber;
    const QSize thumb(32, 18);
    std::printf("screen %dx%d, %d rounds each, one look every 5 s\n", window.width(),
                window.height(), rounds);
    std::printf("%-22s %12s %12s %14s\n", "way", "wall ms", "cpu ms", "core at 1/5 s");
    const auto measure = [&](const char* name, auto take) {
        double wall = 0, cpu = 0, worst = 0;
        for (int i = 0; i < rounds; ++i) {
            app.processEvents();
            const double w0 = bench::Now(), c0 = bench::CpuSeconds(RUSAGE_SELF);
            const QImage image = take();
            const double w = bench::Now() - w0;
            cpu += bench::CpuSeconds(RUSAGE_SELF) - c0;
            wall += w;
            worst = std::max(worst, w);
            if (image.size() != thumb) {
                std::fprintf(stderr, "%s: no picture\n", name);
                return;
            }
        }
        std::printf("%-22s %12.3f %12.3f %13.3f%%   (longest %.3f ms)\n", name,
                    1000 * wall / rounds, 1000 * cpu / rounds, 100 * cpu / rounds / 5.0,
                    1000 * worst);
    };
    measure("thumbnail (lines)", [&] { return grabber.Thumbnail(window, thumb); });
    measure("whole screen, scaled", [&] {
        return grabber.Grab(window).scaled(thumb, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    });
    std::printf("(the X server's own share of each grab is not in these figures)\n");
    return 0;
}
