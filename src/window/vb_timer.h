#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// A window timer: it ticks every Interval milliseconds while it is enabled. An interval
// of 0 never ticks. Changing the interval of a running timer starts its count afresh.
class VbTimer : public QObject {
  public:
    explicit VbTimer(int intervalMs = 0, bool enabled = false);

    void SetEnabled(bool enabled);
    bool Enabled() const { return enabled_; }
    void SetInterval(int ms);
    int Interval() const { return interval_; }

    std::function<void()> Tick;

  private:
    void Restart();
    QTimer timer_;
    int interval_ = 0;
    bool enabled_ = false;
};
