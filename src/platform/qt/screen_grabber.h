#pragma once

#include "platform/picture_grabber.h"

namespace platform {

// The window as the screen shows it: on X, the screen's pixels where the window is (the
// film's own window included); elsewhere what the window draws.
class QtPictureGrabber : public PictureGrabber {
  public:
    QImage Grab(QWidget& window) override;
    // On X, one line of the screen per row of the thumbnail, each averaged into its
    // columns: a few kilobytes read instead of the whole screen.
    QImage Thumbnail(QWidget& window, QSize size) override;
};

}  // namespace platform
