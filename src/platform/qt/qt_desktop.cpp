#include "platform/qt/qt_desktop.h"

#include "platform/log.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QLocale>
#include <QScreen>
#include <QTime>
#include <QUrl>

#include <algorithm>

namespace platform {

QtPictureLoader::QtPictureLoader() {
    pool_.setMaxThreadCount(1);
}

QtPictureLoader::~QtPictureLoader() {
    pool_.clear();
    pool_.waitForDone();
}

void QtPictureLoader::LoadPicture(const QString& hostPath, QSize fillAtLeast, Done done) {
    pool_.start([this, hostPath, fillAtLeast, done = std::move(done)] {
        QImageReader reader(hostPath);
        reader.setAutoTransform(true);
        const QSize size = reader.size();
        if (size.isValid() && !size.isEmpty() && fillAtLeast.isValid()) {
            // The photo is stretched over the window: read it no larger than it needs to
            // be to fill the window, whichever way its orientation turns it.
            const double scale = std::max({double(fillAtLeast.width()) / size.width(),
                                           double(fillAtLeast.height()) / size.height(),
                                           double(fillAtLeast.height()) / size.width(),
                                           double(fillAtLeast.width()) / size.height()});
            if (scale < 1) {
                reader.setScaledSize((QSizeF(size) * scale).toSize().expandedTo(QSize(1, 1)));
            }
        }
        QImage image = reader.read();
        const QString error = image.isNull() ? reader.errorString() : QString();
        QMetaObject::invokeMethod(
            &reports_,
            [done, image = std::move(image), error] {
                done(image.isNull() ? std::nullopt : std::optional<QImage>(image), error);
            },
            Qt::QueuedConnection);
    });
}

void QtFileDialog::FormatResults(const QStringList& files, QString* fileName, QString* fileTitle) {
    fileName->clear();
    fileTitle->clear();
    if (files.size() == 1) {
        *fileName = QDir::toNativeSeparators(files.first());
        *fileTitle = QFileInfo(files.first()).fileName();
    } else if (files.size() > 1) {
        *fileName = QFileInfo(files.first()).absolutePath();
        for (const QString& file : files) {
            *fileName += QChar(0) + QFileInfo(file).fileName();
        }
    }
}

void QtFileDialog::ShowOpen() {
    const QStringList files = QFileDialog::getOpenFileNames(QApplication::activeWindow());
    FormatResults(files, &FileName, &FileTitle);
}

bool QtShell::Open(const QString& address, int) {
    QUrl url = QUrl::fromUserInput(address);
    if (!url.isValid()) {
        return false;
    }
    return QDesktopServices::openUrl(url);
}

void QtPointer::SetCursorPos(int x, int y) {
    // The position is clamped to the screen, as the system does for a pointer move.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        x = std::clamp(x, area.left(), area.right());
        y = std::clamp(y, area.top(), area.bottom());
    }
    QCursor::setPos(x, y);
}

QString QtClock::FormatTime(const QTime& time) {
    // Always 24-hour with leading zeros: a locale's own format ("3:07:00 PM") would never
    // match the panel's "15:07", and would match "10:30" twice a day.
    return QLocale::c().toString(time, QStringLiteral("HH:mm:ss"));
}

QString QtClock::TimeText() {
    return FormatTime(QTime::currentTime());
}

double LcgRandom::Next() {
    state_ = (state_ * 1140671485u + 12820163u) & 0xFFFFFFu;
    return static_cast<double>(state_) / 16777216.0;
}

}  // namespace platform
