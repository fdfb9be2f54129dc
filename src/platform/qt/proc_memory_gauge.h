#pragma once

#include "platform/memory_gauge.h"

#include <QByteArrayView>
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
    // The sum over `pids` of one field of /proc/PID/smaps_rollup ("Pss", "Anonymous"), in MiB.
    static double RollupMiB(const QList<int>& pids, QByteArrayView field);
};

}  // namespace platform
