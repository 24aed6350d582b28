// RunLoop over the Qt event loop of the application's main thread.
#include "Runtime/QtRunLoop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace vantrel {

namespace {

using Clock = std::chrono::steady_clock;

int toMilliseconds(Duration d)
{
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    if (ms < 0)
        return 0;
    if (ms > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    return static_cast<int>(ms);
}

/// A QTimer owned by the loop's context object; the handle only points at it.
class QtTimer final : public Timer {
public:
    explicit QtTimer(QTimer* timer) : timer_(timer) {}
    void invalidate() override
    {
        if (timer_) {
            timer_->stop();
            timer_->deleteLater();
            timer_ = nullptr;
        }
    }
    bool isValid() const override { return timer_ && timer_->isActive(); }

private:
    QPointer<QTimer> timer_;
};

} // namespace

QtRunLoop::QtRunLoop() : context_(new QObject)
{
    Q_ASSERT(QCoreApplication::instance());
    context_->moveToThread(QCoreApplication::instance()->thread());
}

QtRunLoop::~QtRunLoop()
{
    delete context_; // deletes the timers, parented to it
}

void QtRunLoop::post(std::function<void()> job)
{
    QMetaObject::invokeMethod(context_, std::move(job), Qt::QueuedConnection);
}

std::shared_ptr<Timer> QtRunLoop::schedule(Duration delay, std::function<void()> fire)
{
    auto* timer = new QTimer(context_);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, fire = std::move(fire)] {
        timer->deleteLater();
        fire();
    });
    timer->start(toMilliseconds(delay));
    return std::make_shared<QtTimer>(timer);
}

std::shared_ptr<Timer> QtRunLoop::scheduleRepeating(Duration delay, Duration interval, std::function<void()> fire)
{
    auto* timer = new QTimer(context_);
    timer->setTimerType(Qt::PreciseTimer);
    int intervalMs = std::max(1, toMilliseconds(interval));
    // The first shot comes after `delay`, then the timer switches to `interval`.
    timer->setInterval(toMilliseconds(delay));
    QObject::connect(timer, &QTimer::timeout, timer, [timer, intervalMs, fire = std::move(fire)] {
        if (timer->interval() != intervalMs)
            timer->setInterval(intervalMs);
        fire();
    });
    timer->start();
    return std::make_shared<QtTimer>(timer);
}

TimePoint QtRunLoop::now() const
{
    return std::chrono::time_point_cast<Duration>(Clock::now());
}

bool QtRunLoop::isLoopThread() const
{
    return QThread::currentThread() == context_->thread();
}

} // namespace vantrel
