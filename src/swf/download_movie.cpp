#include "swf/download_movie.h"

#include "swf/swf.h"

namespace swf {

QByteArray DownloadMovie() {
    Writer writer(8, QSize(800, 600), 12);
    // Dark blue, not black: the connecting screen may stay up a long while (a display whose
    // site is away), and a black channel reads as a dead one.
    writer.SetBackground(QColor(12, 28, 64));
    writer.AddRectangle(1, QRect(100, 330, 600, 4), QColor(40, 90, 160), 1);
    writer.AddTextField(10, QRect(50, 200, 700, 80), "dvTitle", "Dravonelle", Qt::white, 48, 2);
    writer.AddTextField(20, QRect(50, 360, 700, 40), "Status", "Maakt verbinding..",
                        QColor(0, 255, 0), 24, 3);
    writer.ShowFrame();
    writer.ShowFrame();
    return writer.Finish();
}

}  // namespace swf
