// The daily power-off and the power-off button.
#include "window/power_off.h"

#include "platform/log.h"
#include "window/form1.h"

namespace {

void RequestPowerOff(platform::PowerOff& powerOff, const char* why) {
    qCInfo(lcPower) << "power-off requested:" << why;
    powerOff.RequestPowerOff([](const platform::Result<>& done) {
        if (!done) {
            qCWarning(lcPower).noquote() << "power-off refused:" << done.reason();
        }
    });
}

}  // namespace

void Form1::CheckCompUit_Timer() {
    // Compared as text, character for character: the time is never parsed.
    const QString now = platform_.clock->TimeText().left(5);
    if (now == TxttijdUit->text().left(5)) {
        powerOffRequested_ = true;
        RequestPowerOff(*platform_.powerOff, "the set time has come");
    }
}

void Form1::CmdCompUit_Click() {
    powerOffRequested_ = true;
    RequestPowerOff(*platform_.powerOff, "by the operator");
}

namespace power_off {

QDateTime NextTime(const QString& setTime, const QDateTime& now) {
    const QTime at = QTime::fromString(setTime.left(5), QStringLiteral("HH:mm"));
    if (!at.isValid()) {
        return {};
    }
    const QDateTime today(now.date(), at);
    return today > now ? today : today.addDays(1);
}

}  // namespace power_off
