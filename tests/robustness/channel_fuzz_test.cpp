// Random traffic from the application into the running program, through the
// engine's real path, on both channels: thousands of method names and argument
// values of every kind, nested, and messages that are no method call at all.
// Every message is answered exactly once, the program keeps running, and the
// tray ends as the last status report that it could read left it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "standins/method_envelopes.h"
#include "tests/codec/codec_test_helpers.h"
#include "tests/scenarios/scenario.h"
#include "tests/support/bundle_copy.h"

namespace talvor::test {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using standins::MethodReply;

constexpr int kMessages = 4000;
constexpr uint64_t kSeed = 20261207;
constexpr int kNesting = 4;
constexpr auto kReplyTimeout = std::chrono::seconds(10);

const std::vector<std::string> kRuntimeMethods = {"isProcessElevated", "hasPendingTunLaunch",
                                                  "consumePendingTunLaunch", "activateMainWindow",
                                                  "relaunchElevatedForTun"};
const std::vector<std::wstring> kServerNames = {L"Oslo", L"Хельсинки 2", L"", L"a b c", L"Zürich-1"};

// What the tray should show: the start-up tooltip until the first status
// report that the program could read.
struct TrayStatus {
  bool reported = false;
  bool connected = false;
  std::wstring server_name;

  std::wstring Tooltip() const {
    if (!reported) return L"Talvor VPN";
    if (!connected) return L"Talvor VPN \u2014 Отключено";
    std::wstring tooltip = L"Talvor VPN \u2014 Подключено";
    if (!server_name.empty()) tooltip += L" (" + server_name + L")";
    return tooltip;
  }
  TrayBadge Badge() const { return connected ? TrayBadge::kGreen : TrayBadge::kGrey; }
};

// One message of the application and the reply it must get.
struct Message {
  const char* channel = kTrayChannel;
  std::vector<uint8_t> bytes;
  std::string method;  // empty for bytes that are no method call
  MethodReply::Kind expected = MethodReply::Kind::kNotImplemented;
};

class RandomTraffic {
 public:
  explicit RandomTraffic(uint64_t seed) : values_(seed) {}

  Message Next(TrayStatus* tray) {
    const int pick = values_.Uniform(0, 99);
    if (pick < 35) return StatusReport(tray);
    if (pick < 45) return Call(kTrayChannel, "updateStatus", NonMap(), MethodReply::Kind::kSuccess);
    if (pick < 60) return Call(kTrayChannel, MethodName(), Arguments(), MethodReply::Kind::kNotImplemented);
    if (pick < 80) return RuntimeCall();
    if (pick < 90) return Call(kRuntimeChannel, MethodName(), Arguments(), MethodReply::Kind::kNotImplemented);
    return NoMethodCall();
  }

 private:
  Message Call(const char* channel, const std::string& method, const EncodableValue& arguments,
               MethodReply::Kind expected) {
    Message message;
    message.channel = channel;
    message.method = method;
    message.bytes = standins::EncodeMethodCall(method, arguments);
    message.expected = expected;
    return message;
  }

  // A status map with each entry present or not, of its type or another.
  Message StatusReport(TrayStatus* tray) {
    EncodableMap status;
    bool connected = false;
    std::wstring server_name;
    switch (values_.Uniform(0, 3)) {
      case 0: break;
      case 1: status[EncodableValue("connected")] = values_.Next(0); break;
      default: connected = values_.Uniform(0, 1) == 1; status[EncodableValue("connected")] = EncodableValue(connected);
    }
    const auto given = status.find(EncodableValue("connected"));
    if (given != status.end() && std::holds_alternative<bool>(given->second)) connected = std::get<bool>(given->second);
    if (values_.Uniform(0, 3) != 0) {
      server_name = kServerNames[static_cast<size_t>(values_.Uniform(0, static_cast<int>(kServerNames.size()) - 1))];
      status[EncodableValue("serverName")] = EncodableValue(Utf8(server_name));
    } else if (values_.Uniform(0, 1) == 0) {
      // Of any type but a string, which would be a name.
      EncodableValue other = values_.Next(1);
      if (const auto* name = std::get_if<std::string>(&other)) other = EncodableValue(static_cast<int32_t>(name->size()));
      status[EncodableValue("serverName")] = std::move(other);
    }
    if (values_.Uniform(0, 1) == 0) status[EncodableValue("canToggle")] = values_.Next(1);
    for (int extra = values_.Uniform(0, 2); extra > 0; --extra) {
      status.emplace(values_.Next(1), values_.Next(kNesting - 1));
    }
    tray->reported = true;
    tray->connected = connected;
    tray->server_name = server_name;
    return Call(kTrayChannel, "updateStatus", EncodableValue(std::move(status)), MethodReply::Kind::kSuccess);
  }

  // The runtime channel's methods with random arguments. The relaunch never
  // gets a payload, so it is refused and the program stays.
  Message RuntimeCall() {
    const std::string& method =
        kRuntimeMethods[static_cast<size_t>(values_.Uniform(0, static_cast<int>(kRuntimeMethods.size()) - 1))];
    EncodableValue arguments = Arguments();
    if (auto* map = std::get_if<EncodableMap>(&arguments)) map->erase(EncodableValue("payloadJson"));
    const MethodReply::Kind expected =
        method == "relaunchElevatedForTun" ? MethodReply::Kind::kError : MethodReply::Kind::kSuccess;
    return Call(kRuntimeChannel, method, arguments, expected);
  }

  // Random bytes that cannot start a method call (its name is a string), or
  // a call of an unknown method cut short: either way "not implemented".
  Message NoMethodCall() {
    Message message;
    message.channel = values_.Uniform(0, 1) == 0 ? kTrayChannel : kRuntimeChannel;
    if (values_.Uniform(0, 1) == 0) {
      message.bytes.resize(static_cast<size_t>(values_.Uniform(0, 64)));
      for (uint8_t& byte : message.bytes) byte = static_cast<uint8_t>(values_.Uniform(0, 255));
      if (!message.bytes.empty() && message.bytes[0] == 7) message.bytes[0] = 12;
    } else {
      message.bytes = standins::EncodeMethodCall(MethodName(), Arguments());
      message.bytes.resize(static_cast<size_t>(values_.Uniform(0, static_cast<int>(message.bytes.size()) - 1)));
    }
    return message;
  }

  EncodableValue Arguments() { return values_.Next(kNesting); }

  EncodableValue NonMap() {
    EncodableValue value = values_.Next(kNesting);
    while (std::holds_alternative<EncodableMap>(value)) value = values_.Next(kNesting);
    return value;
  }

  // Any bytes, invalid UTF-8 and zeros included, never a known method.
  std::string MethodName() {
    std::string name(static_cast<size_t>(values_.Uniform(0, 40)), '\0');
    for (char& c : name) c = static_cast<char>(values_.Uniform(0, 255));
    for (const std::string& known : kRuntimeMethods) {
      if (name == known) name += '?';
    }
    if (name == "updateStatus") name += '?';
    return name;
  }

  RandomValues values_;
};

const char* KindName(MethodReply::Kind kind) {
  switch (kind) {
    case MethodReply::Kind::kSuccess: return "success";
    case MethodReply::Kind::kError: return "error";
    case MethodReply::Kind::kNotImplemented: return "not implemented";
    case MethodReply::Kind::kMalformed: return "malformed";
  }
  return "?";
}

TEST(ChannelFuzzing, EveryMessageIsAnsweredOnceAndTheTrayKeepsTheLastStatus) {
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, BundleDirectory());
  ASSERT_TRUE(program);

  RandomTraffic traffic(kSeed);
  TrayStatus tray;
  int answered = 0;
  int no_method_calls = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int index = 0; index < kMessages; ++index) {
    const Message message = traffic.Next(&tray);
    if (message.method.empty()) ++no_method_calls;
    const std::optional<std::vector<uint8_t>> reply = app.Send(message.channel, message.bytes, program->id(),
                                                                kReplyTimeout);
    ASSERT_TRUE(reply) << "message " << index << " on " << message.channel << " got no reply; program "
                       << (program->process.Running() ? "runs" : "ended");
    ++answered;
    const MethodReply decoded = standins::DecodeMethodReply(reply->data(), reply->size());
    ASSERT_EQ(KindName(decoded.kind), std::string(KindName(message.expected)))
        << "message " << index << " on " << message.channel << ": " << standins::DescribeReply(decoded);
    if (message.method == "isProcessElevated") {
      EXPECT_TRUE(std::holds_alternative<bool>(decoded.value));
    } else if (message.method == "hasPendingTunLaunch") {
      EXPECT_EQ(decoded.value, EncodableValue(false));
    } else if (decoded.kind == MethodReply::Kind::kSuccess) {
      EXPECT_TRUE(decoded.value.IsNull()) << message.method;
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  EXPECT_TRUE(program->process.Running());
  int stray = 0;
  for (const AppEvent& event : app.Events()) stray += event.kind == AppEventKind::kStrayResponse ? 1 : 0;
  EXPECT_EQ(stray, 0) << "messages answered more than once";
  EXPECT_TRUE(WaitForTrayIconState(program->tray_icon, tray.Tooltip(), tray.Badge()))
      << "tray shows \"" << Utf8(TrayIconTooltip(program->tray_icon)) << "\", badge "
      << ToString(TrayIconBadge(program->tray_icon)) << "; expected \"" << Utf8(tray.Tooltip()) << "\", badge "
      << ToString(tray.Badge());

  std::cout << "[ figure ] " << answered << " of " << kMessages << " messages answered exactly once ("
            << no_method_calls << " no method call, " << stray << " answered twice) in " << seconds << " s, "
            << 1000.0 * seconds / kMessages << " ms each; tray \"" << Utf8(tray.Tooltip()) << "\"" << std::endl;

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  EXPECT_EQ(program->process.WaitForExit(), 0u);
  EXPECT_TRUE(app.WaitForEvent(AppEventKind::kEngineDestroyed, program->id()));
  for (const std::string& line : program->process.StandardErrorLines()) {
    EXPECT_EQ(line.rfind("Unhandled exception", 0), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace talvor::test
