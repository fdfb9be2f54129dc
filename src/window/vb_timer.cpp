#include "window/vb_timer.h"

VbTimer::VbTimer(int intervalMs, bool enabled) : interval_(intervalMs), enabled_(enabled) {
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (enabled_ && Tick) {
            Tick();
        }
    });
    Restart();
}

void VbTimer::SetEnabled(bool enabled) {
    if (enabled == enabled_) {
        return;
    }
    enabled_ = enabled;
    Restart();
}

void VbTimer::SetInterval(int ms) {
    interval_ = ms < 0 ? 0 : ms;
    Restart();
}

void VbTimer::Restart() {
    if (enabled_ && interval_ > 0) {
        timer_.start(interval_);
    } else {
        timer_.stop();
    }
}
