#pragma once

#include <chrono>
#include <functional>

namespace talvor::test {

// Default bound for conditions that depend on another process or on Wine.
constexpr std::chrono::milliseconds kDefaultWait{20000};

// Polls `condition` until it holds or `timeout` has passed; returns whether it
// held. On Windows the calling thread's window messages are dispatched while
// waiting, so windows owned by the test stay responsive.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = kDefaultWait);

}  // namespace talvor::test
