#pragma once

#include "platform/result.h"
#include "platform/system_settings.h"

#include <QString>

#include <functional>

namespace platform {

class FileWriter;

// Transfer states reported through StateChanged.
enum InetState : int {
    kInetReceivingResponse = 7,  // more of the body has been written; BodyBytes says how much
    kInetResponseReceived = 8,   // the whole response is in, its body written
};

// The bounds of one fetch beside the request time-out, and whom an https server must be
// vouched for by.
struct InetLimits {
    int deadlineSeconds = SystemSettings{}.fetchDeadlineS;
    qint64 maxUnannouncedBytes = SystemSettings{}.fetchMaxBytes;
    QString caBundle;  // a PEM file of the authorities trusted; empty: the system's
};

// An HTTP GET client, one request at a time.
class Inet {
  public:
    virtual ~Inet() = default;
    virtual void SetRequestTimeout(int seconds) = 0;
    // Where the next request writes its body, piece by piece as it arrives; nullptr drops
    // it. A failed write fails the request with the write's reason (kDiskFull for a full
    // disk). The writer may be written from another thread, but never at the same time
    // as from the caller's and never once Cancel, or SetBodyWriter with another writer,
    // has returned; until then it must live.
    virtual void SetBodyWriter(FileWriter* writer) = 0;
    // Starts the request and returns at once; progress arrives as StateChanged.
    virtual void Execute(const QString& url, const QString& operation) = 0;
    // The bytes of the body written so far.
    virtual qint64 BodyBytes() const = 0;
    virtual void Cancel() = 0;

    // What the last response said: its HTTP status (0 when none came), the length that
    // it announced (-1 when it announced none).
    virtual int ResponseCode() const = 0;
    virtual qint64 AnnouncedLength() const = 0;

    // What a server says of a file, to ask next time only whether it changed.
    struct Validators {
        QString etag, lastModified;
        bool Empty() const { return etag.isEmpty() && lastModified.isEmpty(); }
    };
    // For the next request only. With `unlessStill`, the file is asked for only if it is no
    // longer the one described: a server that agrees answers 304, without a body. With
    // `resumeFrom` > 0 only its rest is asked for, from that byte on, if it is still the
    // one `resumeIf` describes: the answer is 206 with the rest. A server that would send
    // the whole file instead fails the request, as FailureKind::kWholeAgain, before a byte
    // of it is written.
    struct Conditions {
        Validators unlessStill;
        qint64 resumeFrom = 0;
        Validators resumeIf;
    };
    virtual void SetConditions(const Conditions& conditions) { (void)conditions; }
    // What the last response said of its file.
    virtual Validators ResponseValidators() const { return {}; }

    // A state the request reached, or its failure with the reason; nothing follows a
    // failure.
    std::function<void(const Result<int>& state)> StateChanged;
};

}  // namespace platform
