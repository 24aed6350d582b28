// Helpers of the X11 tests: waiting on the run loop for a condition.
#pragma once

#include "Runtime/ManualRunLoop.h"

#include <chrono>
#include <functional>
#include <thread>

namespace vantrel::test {

/// Runs the loop's posted jobs until `done` holds or `timeout` passes; the
/// event thread posts from another thread, so this polls briefly.
inline bool pumpUntil(ManualRunLoop& loop, const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        loop.runPending();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

/// Polls `done` (which may read the X server) until it holds or `timeout` passes.
inline bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace vantrel::test
