// The messenger object behind FlutterDesktopMessenger handles: reference
// counted so that it outlives its engine for as long as the program holds
// references, with a lock under which the engine cannot detach.
#ifndef TALVOR_STANDINS_ENGINE_MESSENGER_H_
#define TALVOR_STANDINS_ENGINE_MESSENGER_H_

#include <atomic>
#include <mutex>

#include "embedding/engine_api.h"

namespace talvor::standins {
class Engine;
}

struct FlutterDesktopMessenger {
  // Recursive: the program sends responses while holding the lock, and
  // sending a response takes it as well.
  std::recursive_mutex mutex;
  std::atomic<long> references{1};
  // Null once the engine has detached; read and written under `mutex`.
  talvor::standins::Engine* engine = nullptr;
};

namespace talvor::standins {

// A new messenger with one reference, attached to `engine`.
FlutterDesktopMessenger* NewMessenger(Engine* engine);

void AddMessengerReference(FlutterDesktopMessenger* messenger);

// Drops one reference; the last one frees the messenger.
void ReleaseMessenger(FlutterDesktopMessenger* messenger);

// Detaches the engine: from then on the messenger reports unavailable.
void DetachMessenger(FlutterDesktopMessenger* messenger);

int LiveMessengerCount();

}  // namespace talvor::standins

#endif  // TALVOR_STANDINS_ENGINE_MESSENGER_H_
