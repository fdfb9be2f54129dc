#include "swf/download_movie.h"

#include "swf/swf.h"

namespace swf {

QByteArray DownloadMovie() {
    Writer writer(8, QSize(800, 600), 12);
    writer.SetBackground(QColor(0, 0, 0));
    writer.AddRectangle(1, QRect(100, 330, 600, 4), QColor(40, 90, 160), 1);
    writer.AddTextField(10, QRect(50, 200, 700, 80), "dvTitle", "Dravonelle", Qt::white, 48, 2);
    writer.AddTextField(20, QRect(50, 360, 700, 40), "Status", "Maakt verbinding..",
                        QColor(0, 255, 0), 24, 3);
    writer.ShowFrame();
    writer.ShowFrame();
    return writer.Finish();
}

}  // namespace swf
