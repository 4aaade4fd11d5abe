// What the embedding layer adds to the codec's own cost: one incoming
// "updateStatus" call carried by the fake engine through the messenger, the
// method channel and the codec to a handler that answers success, against the
// same bytes decoded and answered by the codec alone.
//
// The channel case reports "x_codec": its time per call over the codec-only
// time per call, the latter measured again in the same run (best of five
// rounds), so that the ratio survives a busy machine.
//
// The fake engine records nothing here, but it still takes its lock and
// allocates a response handle for every message, as an engine would; its
// cost counts as the layers'.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/benchmark_main.h"
#include "bench/memcpy_baseline.h"
#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/standard_method_codec.h"
#include "embedding/flutter_engine.h"
#include "embedding/method_channel.h"
#include "tests/fake_engine/fake_engine.h"

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodResult;
using flutter::StandardMethodCodec;

constexpr char kTrayChannel[] = "com.talvor.talvorApp/tray";

std::vector<uint8_t> UpdateStatusMessage() {
  const MethodCall<EncodableValue> call(
      "updateStatus", std::make_unique<EncodableValue>(EncodableMap{
                          {EncodableValue("connected"), EncodableValue(true)},
                          {EncodableValue("canToggle"), EncodableValue(true)},
                          {EncodableValue("serverName"), EncodableValue("Франкфурт #2")},
                      }));
  return *StandardMethodCodec::GetInstance().EncodeMethodCall(call);
}

// What the channel does with the bytes, without the channel: decode the
// call, answer it with a success envelope.
bool DecodeAndAnswer(const std::vector<uint8_t>& message) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const auto call = codec.DecodeMethodCall(message.data(), message.size());
  const auto envelope = codec.EncodeSuccessEnvelope(nullptr);
  benchmark::DoNotOptimize(envelope->data());
  return call != nullptr && call->method_name() == "updateStatus";
}

// Seconds per call of DecodeAndAnswer, measured once in the run.
double CodecSecondsPerCall(const std::vector<uint8_t>& message) {
  static const double measured = talvor::bench::BestSecondsPerCall([&message] { DecodeAndAnswer(message); });
  return measured;
}

void BM_UpdateStatusThroughChannel(benchmark::State& state) {
  talvor::test::FakeEngine fake;
  fake.set_recording(false);
  flutter::FlutterEngine engine(flutter::FlutterProject(L"data"));
  flutter::MethodCallChannel channel(engine.messenger(), kTrayChannel,
                                     &StandardMethodCodec::GetInstance());
  benchmark::IterationCount handled = 0;
  channel.SetMethodCallCallback([&handled](const MethodCall<EncodableValue>& call,
                                           std::unique_ptr<MethodResult<EncodableValue>> result) {
    if (call.method_name() == "updateStatus") ++handled;
    result->Success(nullptr);
  });
  const std::vector<uint8_t> message = UpdateStatusMessage();

  const double start = talvor::bench::CpuSeconds();
  for (auto _ : state) {
    benchmark::DoNotOptimize(fake.Deliver(kTrayChannel, message));
  }
  const double loop_seconds = talvor::bench::CpuSeconds() - start;
  if (handled != state.iterations()) state.SkipWithError("the handler missed calls");
  const double per_call = loop_seconds / static_cast<double>(state.iterations());
  state.counters["x_codec"] = per_call / CodecSecondsPerCall(message);
}
BENCHMARK(BM_UpdateStatusThroughChannel);

void BM_UpdateStatusCodecOnly(benchmark::State& state) {
  const std::vector<uint8_t> message = UpdateStatusMessage();
  benchmark::IterationCount handled = 0;
  for (auto _ : state) {
    if (DecodeAndAnswer(message)) ++handled;
  }
  if (handled != state.iterations()) state.SkipWithError("decoding missed calls");
}
BENCHMARK(BM_UpdateStatusCodecOnly);

}  // namespace

int main(int argc, char** argv) { return talvor::bench::RunBenchmarks(argc, argv); }
