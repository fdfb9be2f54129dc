#include "standin_players.h"

#include <QPainter>

namespace platform {

void StandInSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 24, 48));
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, text);
}

void StandInFlashPlayer::SetMovie(const QString& path) {
    movie_ = path;
    frame_ = 0;
    Repaint();
}

void StandInFlashPlayer::SetVariable(const QString& name, const QString& value) {
    variables_[name] = value;
    Repaint();
}

void StandInFlashPlayer::Repaint() {
    surface_.text = movie_;
    if (variables_.contains(QStringLiteral("Status"))) {
        surface_.text += '\n' + variables_.value(QStringLiteral("Status"));
    }
    surface_.update();
}

void StandInMediaPlayer::SetURL(const QString& url) {
    url_ = url;
    surface_.text = url;
    surface_.update();
}

}  // namespace platform
