#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace platform {

// The kind of a failure, where a caller acts on the kind rather than only reporting it.
enum class FailureKind {
    kOther,
    kDiskFull,    // the disk (or the user's quota) is full: the operator must make room
    kRefused,     // a complete file is not what its name says: it did not replace the old one
    kWholeAgain,  // the rest of a file was asked for and the server would send all of it
};

// Why an operation failed, in words fit for the status line and the log, and its kind.
struct Failure {
    QString reason;
    FailureKind kind = FailureKind::kOther;
};

// What an operation that can fail gives back: its value (none for Result<>), or the
// reason it failed. Test it as a bool; a failure's reason is never empty.
template <typename T = void>
class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}              // NOLINT: a value is a success
    Result(Failure failure) : failure_(std::move(failure)) {}  // NOLINT
    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const QString& reason() const { return failure_.reason; }
    FailureKind kind() const { return failure_.kind; }
    // The failure, to be passed on as it is.
    const Failure& failure() const { return failure_; }

  private:
    std::optional<T> value_;
    Failure failure_;
};

template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Failure failure)  // NOLINT: a failure converts
        : failed_(true), failure_(std::move(failure)) {}
    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const QString& reason() const { return failure_.reason; }
    FailureKind kind() const { return failure_.kind; }
    const Failure& failure() const { return failure_; }

  private:
    bool failed_ = false;
    Failure failure_;
};

// A failure with `reason`; "unknown error" when the reason is empty.
inline Failure Fail(QString reason, FailureKind kind = FailureKind::kOther) {
    return Failure{reason.isEmpty() ? QStringLiteral("unknown error") : std::move(reason), kind};
}

}  // namespace platform
