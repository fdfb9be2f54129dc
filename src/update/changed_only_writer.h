#pragma once

#include "platform/file_system.h"

#include <QFile>

#include <optional>

#include <functional>
#include <memory>

namespace update {

// Writes a body that may be the file already in place only where it differs: while the
// bytes that come are the file's own, nothing is written, not even a new file beside it;
// at the first byte that differs a new version is made, given the bytes so far, and the
// rest goes there. Written from the transfer's thread; asked once the body is in.
class ChangedOnlyWriter : public platform::FileWriter {
  public:
    using Create = std::function<platform::Result<std::unique_ptr<platform::DurableFile>>()>;
    // `current` is the host path of the file in place; `create` makes its new version.
    ChangedOnlyWriter(const QString& current, Create create);

    platform::Result<> Write(const char* data, qint64 size) override;
    platform::Result<> Fits(qint64 size) override;

    // Once the whole body is in: whether it is the file in place, byte for byte.
    bool Unchanged() const;
    // The new version with the whole body (made now if the body was all the file's own
    // so far, but shorter), or why it could not be made.
    platform::Result<std::unique_ptr<platform::DurableFile>> TakeFile();

  private:
    // Makes the new version and gives it the `matched_` bytes that were the file's own.
    platform::Result<> Diverge();

    QFile current_;
    qint64 currentSize_ = -1;
    Create create_;
    qint64 matched_ = 0;
    bool diverged_ = false;
    std::unique_ptr<platform::DurableFile> file_;
    std::optional<platform::Failure> failed_;
    QByteArray compare_;
};

}  // namespace update
