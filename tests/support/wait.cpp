#include "tests/support/wait.h"

#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace talvor::test {

namespace {

void PumpOrPause() {
#ifdef _WIN32
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
#else
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
#endif
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    PumpOrPause();
  }
}

}  // namespace talvor::test
