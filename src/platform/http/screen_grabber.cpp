#include "platform/http/screen_grabber.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

namespace platform {

QImage QtPictureGrabber::Grab(QWidget& window) {
    if (!window.isVisible()) {
        return {};
    }
    QScreen* screen = window.screen();
    if (screen && QGuiApplication::platformName() == QLatin1String("xcb")) {
        const QRect where = window.frameGeometry();
        const QImage shot =
            screen
                ->grabWindow(0, where.x() - screen->geometry().x(),
                             where.y() - screen->geometry().y(), where.width(), where.height())
                .toImage();
        if (!shot.isNull()) {
            return shot.convertToFormat(QImage::Format_RGB32);
        }
    }
    return window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace platform
