#include "window/photo_area.h"

#include <QPainter>

PhotoArea::PhotoArea() {
    view_.setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PhotoArea::SetPicture(const QImage& picture) {
    view_.picture = picture;
    view_.update();
}

const QImage& PhotoArea::Picture() const {
    return view_.picture;
}

void PhotoArea::View::paintEvent(QPaintEvent*) {
    if (picture.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), picture);
}
