// Writes the demo site's main movie: a channel page that asks for the radio, two photos,
// a film and an inserted news movie, over and over; and, when a second name is given,
// that news movie. With --idle the page asks for the radio only; with --update, for the
// radio and for an update cycle halfway through each round.
#include "swf/swf.h"

#include <QFile>

#include <cstdio>
#include <cstring>

namespace {

swf::Actions Command(const QString& command, const QString& args) {
    swf::Actions a;
    a.PushString("FSCommand:" + command).PushString(args).GetUrl2();
    return a;
}

bool Save(const char* name, const QByteArray& movie) {
    QFile out(QString::fromLocal8Bit(name));
    if (!out.open(QIODevice::WriteOnly) || out.write(movie) != movie.size()) {
        std::fprintf(stderr, "cannot write %s\n", name);
        return false;
    }
    return true;
}

// Three seconds of news: a headline and a bar that runs across.
QByteArray NewsMovie(int fps) {
    swf::Writer w(8, QSize(800, 600), fps);
    w.SetBackground(QColor(120, 20, 30));
    w.AddTextField(10, QRect(40, 200, 720, 80), "kop", "Nieuws uit het dorp", Qt::white, 48, 1);
    for (int frame = 0; frame < 3 * fps; ++frame) {
        w.AddRectangle(100 + frame, QRect(20 * frame, 400, 40, 30), QColor(250, 220, 60),
                       2 + frame);
        if (frame == 3 * fps - 1) {
            w.AddActions(swf::Actions().Stop());
        }
        w.ShowFrame();
    }
    return w.Finish(true);
}

}  // namespace

int main(int argc, char** argv) {
    const bool idle = argc > 1 && std::strcmp(argv[1], "--idle") == 0;
    const bool update = argc > 1 && std::strcmp(argv[1], "--update") == 0;
    if (idle || update) {
        --argc;
        ++argv;
    }
    if (argc != 2 && argc != 3) {
        std::fputs("usage: make_demo_movie [--idle|--update] OUTPUT [NEWS_OUTPUT]\n", stderr);
        return 2;
    }
    const int fps = 12;
    swf::Writer w(8, QSize(800, 600), fps);
    w.SetBackground(QColor(20, 40, 90));
    w.AddRectangle(1, QRect(0, 0, 800, 90), QColor(230, 160, 20), 1);
    w.AddTextField(10, QRect(20, 20, 760, 60), "kop", "Dravonelle - informatiekanaal", Qt::black,
                   40, 2);
    w.AddTextField(20, QRect(40, 150, 720, 300), "tekst",
                   "Welkom bij de demo van Dravonelle.\nStraks: foto's van de zomermarkt en het "
                   "kerkplein, en een film.",
                   Qt::white, 28, 3);
    w.AddTextField(30, QRect(40, 520, 720, 40), "film", "", QColor(200, 200, 200), 18, 4);
    const int seconds = 30;
    for (int frame = 0; frame < seconds * fps; ++frame) {
        if (frame == 0) {
            w.AddActions(Command("radio", ""));
        } else if (idle || update) {
            if (update && frame == seconds / 2 * fps) {
                w.AddActions(Command("update", "waar"));
            }
        } else if (frame == 4 * fps) {
            w.AddActions(Command("foto", "foto:fotos\\zomermarkt.jpg,4"));
        } else if (frame == 10 * fps) {
            w.AddActions(Command("film", "film:fotos\\demofilm.y4m(55,30,95,80)"));
        } else if (frame == 20 * fps) {
            w.AddActions(Command("foto", "foto:fotos\\kerkplein.png,4"));
        } else if (frame == 25 * fps) {
            w.AddActions(Command("flash", "flash:fotos\\nieuws.swf"));
        }
        w.ShowFrame();
    }
    if (!Save(argv[1], w.Finish(true)) || (argc == 3 && !Save(argv[2], NewsMovie(fps)))) {
        return 1;
    }
    return 0;
}
