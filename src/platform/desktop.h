#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <optional>

namespace platform {

// Reads JPEG, GIF, PNG and BMP pictures; nullopt when missing or not a picture.
class PictureLoader {
  public:
    using Done = std::function<void(std::optional<QImage> picture, const QString& error)>;
    virtual ~PictureLoader() = default;
    // Reads the picture at `hostPath` off the window's thread and hands it to `done`
    // through the event loop. A picture larger than `fillAtLeast` (either way round) is
    // read at a smaller size that still fills it.
    virtual void LoadPicture(const QString& hostPath, QSize fillAtLeast, Done done) = 0;
};

// The open-file dialog. After ShowOpen: one file gives FileName = its full path and
// FileTitle = its bare name; several give FileTitle = "" and FileName = the folder, then
// for each file a NUL and its bare name; a cancel gives both empty.
class FileDialog {
  public:
    virtual ~FileDialog() = default;
    virtual void ShowOpen() = 0;
    QString FileName;
    QString FileTitle;
};

// Opens an address with the desktop's handler for it (a browser for http).
class Shell {
  public:
    virtual ~Shell() = default;
    virtual bool Open(const QString& address, int showCommand) = 0;
};

class Pointer {
  public:
    virtual ~Pointer() = default;
    virtual void SetCursorPos(int x, int y) = 0;  // screen pixels; the system clamps
};

// Whether the system clock is kept in step with a time server, as last heard; nullopt
// when nobody has said.
class ClockSync {
  public:
    virtual ~ClockSync() = default;
    virtual std::optional<bool> Synchronised() const = 0;
};

// The local time of day as 24-hour text, "22:30:15", whatever the system's locale.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual QString TimeText() = 0;
};

// Numbers from 0 up to (not including) 1, the same sequence in every run.
class Random {
  public:
    virtual ~Random() = default;
    virtual double Next() = 0;
};

}  // namespace platform
