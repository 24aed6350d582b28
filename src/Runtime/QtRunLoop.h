// The application's run loop over QCoreApplication's event loop (QtCore only).
#pragma once

#include "Runtime/RunLoop.h"

class QObject;

namespace vantrel {

/// Wraps the event loop of the QCoreApplication (or QApplication) that exists
/// when it is constructed; must be constructed on that application's thread.
/// Posting from other threads goes through Qt's queued invocation.
class QtRunLoop final : public RunLoop {
public:
    QtRunLoop();
    ~QtRunLoop() override;

    void post(std::function<void()> job) override;
    std::shared_ptr<Timer> schedule(Duration delay, std::function<void()> fire) override;
    std::shared_ptr<Timer> scheduleRepeating(Duration delay, Duration interval, std::function<void()> fire) override;
    TimePoint now() const override;
    bool isLoopThread() const override;

private:
    QObject* context_;
};

} // namespace vantrel
