// The recording fake's side of the engine contract tests: the test acts as the
// engine and the application through the fake's own controls.
#include <gtest/gtest.h>

#include "tests/engine_contract/application_side.h"
#include "tests/fake_engine/fake_engine.h"
#include "tests/support/wait.h"

namespace talvor::test {
namespace {

class FakeApplicationSide final : public ApplicationSide {
 public:
  FlutterDesktopEngine* CreateEngine() override {
    FlutterDesktopEngineProperties properties{};
    properties.assets_path = L"data\\flutter_assets";
    properties.icu_data_path = L"data\\icudtl.dat";
    properties.aot_library_path = L"data\\app.so";
    properties.entrypoint = "";
    return FlutterDesktopEngineCreate(&properties);
  }

  CallId Call(const std::string& channel, const std::vector<uint8_t>& message) override {
    deliveries_.push_back(fake_.Deliver(channel, message));
    return deliveries_.size() - 1;
  }

  std::optional<std::vector<uint8_t>> Answer(CallId call) override {
    const Delivery& delivery = deliveries_.at(call);
    if (!delivery.handled) return std::nullopt;
    std::optional<Response> response;
    WaitUntil([&] { return (response = fake_.ResponseTo(delivery.id)).has_value() || !fake_.engine_alive(); });
    if (!response) return std::nullopt;
    return response->bytes;
  }

  std::optional<Received> TakeReceived() override {
    const std::vector<EngineCall> calls = fake_.Calls();
    for (; calls_seen_ < calls.size(); ++calls_seen_) {
      const EngineCall& call = calls[calls_seen_];
      const bool with_reply = call.function == "FlutterDesktopMessengerSendWithReply";
      if (!with_reply && call.function != "FlutterDesktopMessengerSend") continue;
      ++calls_seen_;
      return Received{call.name, call.bytes, with_reply};
    }
    return std::nullopt;
  }

  void AnswerSends() override {
    for (const PendingSend& send : fake_.PendingSends()) fake_.AnswerSend(send.id, nullptr, 0);
  }

  void DrawFrame(FlutterDesktopViewController*) override { fake_.RenderFrame(); }

  // A used-up response handle is misuse to the fake: it notes a violation.
  bool TakeRefusedAnswer(std::chrono::milliseconds) override {
    bool refused = false;
    for (const std::string& violation : fake_.TakeViolations()) {
      if (violation == "FlutterDesktopMessengerSendResponse: unknown or already used response handle") {
        refused = true;
      } else {
        ADD_FAILURE() << "fake engine: " << violation;
      }
    }
    return refused;
  }

 private:
  FakeEngine fake_;
  std::vector<Delivery> deliveries_;
  size_t calls_seen_ = 0;
};

}  // namespace

std::unique_ptr<ApplicationSide> ApplicationSide::Create() { return std::make_unique<FakeApplicationSide>(); }

}  // namespace talvor::test
