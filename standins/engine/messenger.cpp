#include "standins/engine/messenger.h"

#include <memory>

namespace talvor::standins {

namespace {

std::atomic<int> live_messengers{0};

}  // namespace

FlutterDesktopMessenger* NewMessenger(Engine* engine) {
  auto messenger = std::make_unique<FlutterDesktopMessenger>();
  messenger->engine = engine;
  ++live_messengers;
  return messenger.release();
}

void AddMessengerReference(FlutterDesktopMessenger* messenger) {
  messenger->references.fetch_add(1, std::memory_order_relaxed);
}

void ReleaseMessenger(FlutterDesktopMessenger* messenger) {
  if (messenger->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    std::unique_ptr<FlutterDesktopMessenger> last(messenger);
    --live_messengers;
  }
}

void DetachMessenger(FlutterDesktopMessenger* messenger) {
  std::lock_guard<std::recursive_mutex> lock(messenger->mutex);
  messenger->engine = nullptr;
}

int LiveMessengerCount() { return live_messengers.load(); }

}  // namespace talvor::standins
