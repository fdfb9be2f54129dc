#pragma once

#include "platform/media_probe.h"

#include <mutex>

struct libvlc_instance_t;

namespace platform {

// Finds a file's streams with libVLC's own parser, in an instance of its own that plays
// nothing. The instance is made at the first probe.
class VlcMediaProbe : public MediaProbe {
  public:
    VlcMediaProbe() = default;
    ~VlcMediaProbe() override;
    VlcMediaProbe(const VlcMediaProbe&) = delete;
    VlcMediaProbe& operator=(const VlcMediaProbe&) = delete;
    Result<int> Streams(const QString& path, int timeoutMs) override;

  private:
    std::mutex mutex_;
    libvlc_instance_t* instance_ = nullptr;
};

}  // namespace platform
