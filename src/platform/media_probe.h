#pragma once

#include "platform/result.h"

#include <QString>

namespace platform {

// Looks into a film or sound file as the media engine would play it.
class MediaProbe {
  public:
    virtual ~MediaProbe() = default;
    // How many audio and video streams the engine finds in the host file `path`, or why it
    // found none within `timeoutMs`. Blocks the calling thread; safe from any thread, for
    // workers only.
    virtual Result<int> Streams(const QString& path, int timeoutMs) = 0;
};

}  // namespace platform
