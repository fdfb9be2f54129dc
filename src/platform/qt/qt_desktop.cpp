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
#include <QMessageBox>
#include <QScreen>
#include <QTime>
#include <QUrl>

namespace platform {

void QtMessageBox::Show(const QString& text) {
    QMessageBox::information(owner_, QStringLiteral("Dravonelle"), text);
}

std::optional<QImage> QtPictureLoader::LoadPicture(const QString& hostPath, QString* error) {
    QImageReader reader(hostPath);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) {
        if (error) {
            *error = reader.errorString();
        }
        return std::nullopt;
    }
    return image;
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
