// Encoding and decoding speed of the standard codec: a typical channel call,
// bulk byte and typed lists, and many small maps. Bulk cases report their
// throughput as a fraction of memcpy's for the same byte count (x_memcpy).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/benchmark_main.h"
#include "bench/memcpy_baseline.h"
#include "bench/codec_cases.h"
#include "codec/encodable_value.h"
#include "codec/standard_method_codec.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using talvor::bench::DecodeWithStandardCodec;
using talvor::bench::EncodeWithStandardCodec;
using talvor::bench::ListOfSmallMaps;

flutter::MethodCall<> UpdateStatusCall() {
  return flutter::MethodCall<>("updateStatus", std::make_unique<EncodableValue>(EncodableMap{
                                                   {EncodableValue("connected"), EncodableValue(true)},
                                                   {EncodableValue("canToggle"), EncodableValue(true)},
                                                   {EncodableValue("serverName"), EncodableValue("Франкфурт #2")},
                                               }));
}

void BM_EncodeUpdateStatusCall(benchmark::State& state) {
  const flutter::StandardMethodCodec& codec = flutter::StandardMethodCodec::GetInstance();
  const flutter::MethodCall<> call = UpdateStatusCall();
  for (auto _ : state) benchmark::DoNotOptimize(codec.EncodeMethodCall(call));
}
BENCHMARK(BM_EncodeUpdateStatusCall);

void BM_DecodeUpdateStatusCall(benchmark::State& state) {
  const flutter::StandardMethodCodec& codec = flutter::StandardMethodCodec::GetInstance();
  const std::unique_ptr<std::vector<uint8_t>> bytes = codec.EncodeMethodCall(UpdateStatusCall());
  for (auto _ : state) benchmark::DoNotOptimize(codec.DecodeMethodCall(bytes->data(), bytes->size()));
}
BENCHMARK(BM_DecodeUpdateStatusCall);

constexpr size_t kByteListSize = 1024 * 1024;
constexpr size_t kTypedListSize = 256 * 1024;

template <typename T>
EncodableValue Sequence(size_t count) {
  std::vector<T> list(count);
  for (size_t i = 0; i < count; ++i) list[i] = static_cast<T>(i * 7 + 1);
  return EncodableValue(std::move(list));
}

// A new output vector per message, as a channel reply gets.
void Encoding(benchmark::State& state, const EncodableValue& value) {
  const size_t bytes = EncodeWithStandardCodec(value).size();
  const double start = talvor::bench::CpuSeconds();
  for (auto _ : state) benchmark::DoNotOptimize(EncodeWithStandardCodec(value));
  talvor::bench::ReportAgainstMemcpy(state, bytes, talvor::bench::CpuSeconds() - start);
}

void Decoding(benchmark::State& state, const EncodableValue& value) {
  const std::vector<uint8_t> bytes = EncodeWithStandardCodec(value);
  const double start = talvor::bench::CpuSeconds();
  for (auto _ : state) benchmark::DoNotOptimize(DecodeWithStandardCodec(bytes));
  talvor::bench::ReportAgainstMemcpy(state, bytes.size(), talvor::bench::CpuSeconds() - start);
}

void RegisterBulk(const std::string& name, const EncodableValue& value) {
  talvor::bench::RegisterMemcpy(EncodeWithStandardCodec(value).size());
  benchmark::RegisterBenchmark(("BM_Encode" + name).c_str(), [value](benchmark::State& state) { Encoding(state, value); });
  benchmark::RegisterBenchmark(("BM_Decode" + name).c_str(), [value](benchmark::State& state) { Decoding(state, value); });
}

}  // namespace

int main(int argc, char** argv) {
  return talvor::bench::RunBenchmarks(argc, argv, [] {
    RegisterBulk("ByteList/1MiB", Sequence<uint8_t>(kByteListSize));
    RegisterBulk("Int64List/256Ki", Sequence<int64_t>(kTypedListSize));
    RegisterBulk("DoubleList/256Ki", Sequence<double>(kTypedListSize));
    RegisterBulk("ListOfSmallMaps/10000", ListOfSmallMaps());
  });
}
