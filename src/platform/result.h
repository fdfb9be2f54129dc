#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace platform {

// Why an operation failed, in words fit for the status line and the log.
struct Failure {
    QString reason;
};

// What an operation that can fail gives back: its value (none for Result<>), or the
// reason it failed. Test it as a bool; a failure's reason is never empty.
template <typename T = void>
class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}                    // NOLINT: a value is a success
    Result(Failure failure) : reason_(std::move(failure.reason)) {}  // NOLINT
    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const QString& reason() const { return reason_; }

  private:
    std::optional<T> value_;
    QString reason_;
};

template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Failure failure)  // NOLINT: a failure converts
        : failed_(true), reason_(std::move(failure.reason)) {}
    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const QString& reason() const { return reason_; }

  private:
    bool failed_ = false;
    QString reason_;
};

// A failure with `reason`; "unknown error" when the reason is empty.
inline Failure Fail(QString reason) {
    return Failure{reason.isEmpty() ? QStringLiteral("unknown error") : std::move(reason)};
}

}  // namespace platform
