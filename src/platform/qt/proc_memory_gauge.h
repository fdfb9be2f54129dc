#pragma once

#include "platform/memory_gauge.h"

#include <QList>

namespace platform {

// Reads the memory of this process and its descendants from /proc.
class ProcMemoryGauge : public MemoryGauge {
  public:
    double ProgramMiB() override;

    // A process and its descendants; the proportional set size of processes, in MiB
    // (processes that have gone count nothing).
    static QList<int> ProcessTree(int root);
    static double PssMiB(const QList<int>& pids);
};

}  // namespace platform
