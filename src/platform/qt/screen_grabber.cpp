#include "platform/qt/screen_grabber.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <algorithm>

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

QImage QtPictureGrabber::Thumbnail(QWidget& window, QSize size) {
    QScreen* screen = window.screen();
    if (!window.isVisible() || !screen || size.isEmpty() ||
        QGuiApplication::platformName() != QLatin1String("xcb")) {
        return PictureGrabber::Thumbnail(window, size);
    }
    const QRect where = window.frameGeometry().translated(-screen->geometry().topLeft());
    QImage thumb(size, QImage::Format_RGB32);
    for (int row = 0; row < size.height(); ++row) {
        const int y = where.y() + (2 * row + 1) * where.height() / (2 * size.height());
        const QImage line = screen->grabWindow(0, where.x(), y, where.width(), 1)
                                .toImage()
                                .convertToFormat(QImage::Format_RGB32);
        if (line.isNull() || line.width() < size.width()) {
            return PictureGrabber::Thumbnail(window, size);
        }
        const auto* pixels = reinterpret_cast<const QRgb*>(line.constScanLine(0));
        for (int column = 0; column < size.width(); ++column) {
            const int from = column * line.width() / size.width();
            const int to = (column + 1) * line.width() / size.width();
            int r = 0, g = 0, b = 0;
            for (int x = from; x < to; ++x) {
                r += qRed(pixels[x]);
                g += qGreen(pixels[x]);
                b += qBlue(pixels[x]);
            }
            const int n = std::max(to - from, 1);
            thumb.setPixel(column, row, qRgb(r / n, g / n, b / n));
        }
    }
    return thumb;
}

}  // namespace platform
