// The last line of defence against memory that grows: past its ceiling the program ends
// at a quiet moment, and the service manager starts it afresh.
#include "platform/log.h"
#include "window/form1.h"

#include <QCoreApplication>

void Form1::MemoryCeilingTimer_Timer() {
    if (!platform_.memory) {
        MemoryCeilingTimer.SetEnabled(false);
        return;
    }
    const double used = platform_.memory->ProgramMiB();
    if (used <= platform_.memoryCeilingMb) {
        return;
    }
    if (MemoryCeilingTimer.Interval() != 1000) {
        qCWarning(lcApp).noquote()
            << QStringLiteral(
                   "memory: %1 MiB, above the ceiling of %2 MiB; the program ends "
                   "at the next quiet moment, to be started afresh")
                   .arg(used, 0, 'f', 0)
                   .arg(platform_.memoryCeilingMb);
        MemoryCeilingTimer.SetInterval(1000);
    }
    if (!QuietMoment()) {
        return;
    }
    EndForRestart(QStringLiteral("Geheugen vol: herstart"), QStringLiteral("memory:"));
}

void Form1::EndForRestart(const QString& statusLine, const QString& why) {
    SetStatus(statusLine);
    qCWarning(lcApp).noquote() << why << "ending now, with status" << kRestartStatus;
    close();
    QCoreApplication::exit(kRestartStatus);
}

bool Form1::QuietMoment() const {
    return !UpdateBusy() && !PushBusy() && !PresentationBusy();
}
