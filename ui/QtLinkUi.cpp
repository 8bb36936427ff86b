#include "ui/QtLinkUi.h"

#include "ui/ExceptionBox.h"

#include <QMetaObject>

#include <algorithm>
#include <climits>

namespace quorvik {

QtLinkTimer::QtLinkTimer(uint32_t intervalMs, std::function<void()> handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)), interval_(intervalMs) {
    // Millisecond intervals, as the link's answer windows need.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { Guarded(handler_); });
}

void QtLinkTimer::SetEnabled(bool on) {
    if (on == enabled_)
        return;
    enabled_ = on;
    Restart();
}

void QtLinkTimer::SetInterval(uint32_t ms) {
    if (ms == interval_)
        return;
    interval_ = ms;
    Restart();
}

void QtLinkTimer::Restart() {
    timer_.stop();
    // QTimer with 0 would fire on every pass of the loop; the platform's does not run.
    if (enabled_ && interval_ > 0)
        timer_.start(static_cast<int>(std::min<uint32_t>(interval_, INT_MAX)));
}

void PostTo(QObject* context, std::function<void()> task) {
    QMetaObject::invokeMethod(
        context, [task = std::move(task)] { Guarded(task); }, Qt::QueuedConnection);
}

} // namespace quorvik
