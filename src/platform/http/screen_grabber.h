#pragma once

#include "platform/status_server.h"

namespace platform {

// The window as the screen shows it: on X, the screen's pixels where the window is (the
// film's own window included); elsewhere what the window draws.
class QtPictureGrabber : public PictureGrabber {
  public:
    QImage Grab(QWidget& window) override;
};

}  // namespace platform
