// The link's timers and dispatcher on Qt's event loop.
#pragma once

#include "link/LinkUi.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>

namespace quorvik {

// A QTimer with the platform's semantics (see LinkTimer). The handler runs on
// every timeout; what it raises goes to the exception box.
class QtLinkTimer : public QObject, public LinkTimer {
    Q_OBJECT
public:
    QtLinkTimer(uint32_t intervalMs, std::function<void()> handler, QObject* parent = nullptr);

    void SetEnabled(bool on) override;
    bool Enabled() const override { return enabled_; }
    void SetInterval(uint32_t ms) override;
    uint32_t Interval() const override { return interval_; }

    // Whether the underlying timer is counting (an enabled timer of interval 0 is not).
    bool Running() const { return timer_.isActive(); }
    // Time to the next timeout of a running timer, ms.
    int RemainingMs() const { return timer_.remainingTime(); }

private:
    void Restart();

    QTimer timer_;
    std::function<void()> handler_;
    uint32_t interval_;
    bool enabled_ = false;
};

// Runs the task on the UI thread, its errors in the exception box; callable
// from any thread. A task whose context is gone by then is dropped.
void PostTo(QObject* context, std::function<void()> task);

} // namespace quorvik
