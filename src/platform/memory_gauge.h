#pragma once

namespace platform {

// How much memory the program holds: its own process and the processes it started (the
// web engine's), as proportional set size in MiB.
class MemoryGauge {
  public:
    virtual ~MemoryGauge() = default;
    virtual double ProgramMiB() = 0;
};

}  // namespace platform
