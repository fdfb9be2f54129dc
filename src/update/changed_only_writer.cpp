#include "update/changed_only_writer.h"

#include <algorithm>

namespace update {

ChangedOnlyWriter::ChangedOnlyWriter(const QString& current, Create create)
    : current_(current), create_(std::move(create)) {
    if (current_.open(QIODevice::ReadOnly)) {
        currentSize_ = current_.size();
    } else {
        diverged_ = true;  // nothing to compare with: every byte is new
    }
}

platform::Result<> ChangedOnlyWriter::Write(const char* data, qint64 size) {
    if (failed_) {
        return *failed_;
    }
    if (!diverged_) {
        qint64 same = 0;
        if (matched_ + size <= currentSize_) {
            compare_.resize(size);
            const qint64 got = current_.read(compare_.data(), size);
            while (same < got && data[same] == compare_[same]) {
                ++same;
            }
        }
        if (same == size) {
            matched_ += size;
            return {};
        }
        if (const auto diverged = Diverge(); !diverged) {
            return diverged;
        }
    }
    if (const auto written = file_->Write(data, size); !written) {
        failed_ = written.failure();
        return written;
    }
    return {};
}

platform::Result<> ChangedOnlyWriter::Fits(qint64 size) {
    // A body of the file's own length may well be the file; it is judged as it comes.
    if (!diverged_ && size == currentSize_) {
        return {};
    }
    if (!file_) {
        if (const auto diverged = Diverge(); !diverged) {
            return diverged;
        }
    }
    return file_->Fits(size);
}

platform::Result<> ChangedOnlyWriter::Diverge() {
    diverged_ = true;
    auto created = create_();
    if (!created) {
        failed_ = created.failure();
        return *failed_;
    }
    file_ = std::move(*created);
    // The bytes so far were the file's own: they come from it.
    current_.seek(0);
    QByteArray block;
    for (qint64 left = matched_; left > 0;) {
        block = current_.read(std::min<qint64>(left, 1 << 20));
        if (block.isEmpty()) {
            failed_ = platform::Fail(QStringLiteral("cannot read ") + current_.fileName());
            return *failed_;
        }
        if (const auto written = file_->Write(block); !written) {
            failed_ = written.failure();
            return *failed_;
        }
        left -= block.size();
    }
    return {};
}

bool ChangedOnlyWriter::Unchanged() const {
    return !diverged_ && !failed_ && matched_ == currentSize_;
}

platform::Result<std::unique_ptr<platform::DurableFile>> ChangedOnlyWriter::TakeFile() {
    if (!failed_ && !file_) {
        (void)Diverge();
    }
    if (failed_) {
        return *failed_;
    }
    return std::move(file_);
}

}  // namespace update
