#include "platform/qt/proc_memory_gauge.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace platform {

namespace {

// The parent of each process, from /proc/<pid>/stat (the field after the name).
QList<std::pair<int, int>> Parents() {
    QList<std::pair<int, int>> parents;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const int pid = entry.toInt(&ok);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!ok || !stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
        if (fields.size() > 2) {
            parents.append({pid, fields[2].toInt()});
        }
    }
    return parents;
}

}  // namespace

QList<int> ProcMemoryGauge::ProcessTree(int root) {
    const QList<std::pair<int, int>> parents = Parents();
    QList<int> pids = {root};
    for (qsizetype i = 0; i < pids.size(); ++i) {
        for (const auto& [pid, parent] : parents) {
            if (parent == pids[i] && !pids.contains(pid)) {
                pids << pid;
            }
        }
    }
    return pids;
}

double ProcMemoryGauge::PssMiB(const QList<int>& pids) {
    return RollupMiB(pids, "Pss");
}

double ProcMemoryGauge::RollupMiB(const QList<int>& pids, QByteArrayView field) {
    const QByteArray prefix = field.toByteArray() + ':';
    double kib = 0;
    for (int pid : pids) {
        QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
        if (!rollup.open(QIODevice::ReadOnly)) {
            continue;
        }
        for (const QByteArray& line : rollup.readAll().split('\n')) {
            if (line.startsWith(prefix)) {
                kib += line.mid(prefix.size()).trimmed().split(' ').first().toDouble();
            }
        }
    }
    return kib / 1024;
}

double ProcMemoryGauge::ProgramMiB() {
    return PssMiB(ProcessTree(static_cast<int>(::getpid())));
}

}  // namespace platform
