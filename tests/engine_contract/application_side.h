// The application's end of one engine library, as the engine contract tests
// drive it. Each engine the program runs on in tests (the recording fake, the
// stand-in) implements it in its own folder; the contract tests are built once
// with each.
#ifndef TALVOR_TESTS_ENGINE_CONTRACT_APPLICATION_SIDE_H_
#define TALVOR_TESTS_ENGINE_CONTRACT_APPLICATION_SIDE_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "embedding/engine_api.h"

namespace talvor::test {

class ApplicationSide {
 public:
  // A fresh world for one test: no engine yet, the application silent.
  static std::unique_ptr<ApplicationSide> Create();
  virtual ~ApplicationSide() = default;

  // An engine on the application's files beside the test program; null when
  // it cannot be made.
  virtual FlutterDesktopEngine* CreateEngine() = 0;

  // The application sends `message` on `channel` to the program. The call
  // goes on by itself; Answer() waits for its outcome.
  using CallId = size_t;
  virtual CallId Call(const std::string& channel, const std::vector<uint8_t>& message) = 0;
  // The program's answer to the call; nothing once no answer can come any
  // more (no handler took it, or the engine has ended).
  virtual std::optional<std::vector<uint8_t>> Answer(CallId call) = 0;

  // The earliest message the program sent that no earlier call returned;
  // nothing when none comes in time.
  struct Received {
    std::string channel;
    std::vector<uint8_t> message;
    bool reply_expected = false;
  };
  virtual std::optional<Received> TakeReceived() = 0;
  // The application answers the program's sends that expect a reply, with
  // nothing (as a silent application does).
  virtual void AnswerSends() = 0;

  // The engine draws a frame; returns once it has.
  virtual void DrawFrame(FlutterDesktopViewController* controller) = 0;

  // Whether the engine refused an answer because its response handle was used
  // up (within `timeout`), forgetting the refusal.
  virtual bool TakeRefusedAnswer(std::chrono::milliseconds timeout) = 0;
};

}  // namespace talvor::test

#endif  // TALVOR_TESTS_ENGINE_CONTRACT_APPLICATION_SIDE_H_
