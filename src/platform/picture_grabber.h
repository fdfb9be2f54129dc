#pragma once

#include <QImage>
#include <QSize>

class QWidget;

namespace platform {

// The picture as it goes out: the whole window as the screen shows it, films included.
class PictureGrabber {
  public:
    virtual ~PictureGrabber() = default;
    // A null image when there is nothing to grab.
    virtual QImage Grab(QWidget& window) = 0;
    // The picture made small, for a frequent look at it: cheap, not exact.
    virtual QImage Thumbnail(QWidget& window, QSize size) {
        const QImage whole = Grab(window);
        return whole.isNull() ? whole
                              : whole.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
};

}  // namespace platform
