// The stand-in's side of the engine contract tests: the test is the
// application over the test connection, with the built-in application silent.
#include <atomic>
#include <memory>
#include <thread>

#include "tests/engine_contract/application_side.h"
#include "tests/standins/engine_fixture.h"
#include "tests/support/app_connection.h"
#include "tests/support/wait.h"

namespace talvor::test {
namespace {

class StandinApplicationSide final : public ApplicationSide {
 public:
  ~StandinApplicationSide() override {
    for (const auto& call : calls_) call->thread.join();
  }

  FlutterDesktopEngine* CreateEngine() override { return talvor::test::CreateEngine(); }

  // The connection's calls wait for their answer, so each runs on a thread of
  // its own while this thread dispatches the engine's work.
  CallId Call(const std::string& channel, const std::vector<uint8_t>& message) override {
    auto call = std::make_unique<PendingCall>();
    PendingCall* raw = call.get();
    call->thread = std::thread([this, raw, channel, message] {
      raw->answer = connection_.Send(channel, message);
      raw->done = true;
    });
    calls_.push_back(std::move(call));
    return calls_.size() - 1;
  }

  std::optional<std::vector<uint8_t>> Answer(CallId id) override {
    PendingCall& call = *calls_.at(id);
    WaitUntil([&] { return call.done.load(); });
    return call.done ? call.answer : std::nullopt;
  }

  std::optional<Received> TakeReceived() override {
    const std::optional<AppEvent> sent = connection_.WaitForEvent(AppEventKind::kOutgoing);
    if (!sent) return std::nullopt;
    return Received{sent->channel, sent->message, sent->reply_expected};
  }

  // The silent built-in application answers every send by itself.
  void AnswerSends() override {}

  // A round trip after the frame request: the engine does its work in order.
  void DrawFrame(FlutterDesktopViewController* controller) override {
    FlutterDesktopViewControllerForceRedraw(controller);
    Answer(Call("contract/after-frame", {}));
  }

  // The stand-in tells the test connection of every answer it refuses.
  bool TakeRefusedAnswer(std::chrono::milliseconds timeout) override {
    return connection_.WaitForEvent(AppEventKind::kStrayResponse, AppConnection::kAnyProcess, timeout).has_value();
  }

 private:
  struct PendingCall {
    std::thread thread;
    std::atomic<bool> done{false};
    std::optional<std::vector<uint8_t>> answer;
  };

  AppConnection connection_{AppConnection::Options{/*application_on=*/false}};
  std::vector<std::unique_ptr<PendingCall>> calls_;
};

}  // namespace

std::unique_ptr<ApplicationSide> ApplicationSide::Create() { return std::make_unique<StandinApplicationSide>(); }

}  // namespace talvor::test
