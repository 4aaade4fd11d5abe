// The standard codec side by side with msgpack-c, a serializer a user might
// pick instead, on the same shapes held as dynamic values on both sides: our
// EncodableValue, and msgpack-c's msgpack::object as msgpack::unpack makes it.
//
//   - the "updateStatus" map: "connected", "canToggle", "serverName";
//   - a list of 10 000 small maps: an integer, a string and a bool each.
//
// Encode is value to bytes in a new buffer, decode is bytes to a new value.
// Each of our cases carries the counter "x_msgpack": its time per operation
// over msgpack-c's for the same case, measured right after it in the same
// repetition, so that the ratio survives a busy machine. The BM_Msgpack rows
// show msgpack-c by itself. A third pair, copy, builds the same value from
// one already in memory; our decode reports "x_copy", its time over that of
// our copy, measured in the same way: how far the decoder is from the floor
// that the value model sets.
#include <benchmark/benchmark.h>

#include <msgpack.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/benchmark_main.h"
#include "bench/memcpy_baseline.h"
#include "bench/codec_cases.h"
#include "codec/encodable_value.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using talvor::bench::DecodeWithStandardCodec;
using talvor::bench::EncodeWithStandardCodec;
using talvor::bench::kSmallMaps;
using talvor::bench::ListOfSmallMaps;

constexpr char kServerName[] = "Франкфурт #2";

// --- Ours ---

EncodableValue OurUpdateStatus() {
  return EncodableValue(EncodableMap{{EncodableValue("connected"), EncodableValue(true)},
                                     {EncodableValue("canToggle"), EncodableValue(true)},
                                     {EncodableValue("serverName"), EncodableValue(kServerName)}});
}

// --- msgpack-c ---

msgpack::sbuffer PeerUpdateStatusBytes() {
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  packer.pack_map(3);
  packer.pack(std::string("canToggle"));
  packer.pack(true);
  packer.pack(std::string("connected"));
  packer.pack(true);
  packer.pack(std::string("serverName"));
  packer.pack(std::string(kServerName));
  return buffer;
}

msgpack::sbuffer PeerSmallMapsBytes() {
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  packer.pack_array(kSmallMaps);
  for (size_t i = 0; i < kSmallMaps; ++i) {
    packer.pack_map(3);
    packer.pack(std::string("id"));
    packer.pack(static_cast<int32_t>(i));
    packer.pack(std::string("name"));
    packer.pack("server-" + std::to_string(i));
    packer.pack(std::string("online"));
    packer.pack(i % 2 == 0);
  }
  return buffer;
}

msgpack::sbuffer PeerEncode(const msgpack::object& value) {
  msgpack::sbuffer buffer;
  msgpack::pack(buffer, value);
  return buffer;
}

msgpack::object_handle PeerDecode(const msgpack::sbuffer& bytes) {
  return msgpack::unpack(bytes.data(), bytes.size());
}

// --- Cases ---

// One shape on both sides, as values and as bytes.
struct Shape {
  std::string name;
  EncodableValue ours;
  std::vector<uint8_t> our_bytes;
  msgpack::sbuffer peer_bytes;
  msgpack::object_handle peer;  // owns the zone of the dynamic value
};

Shape* MakeShape(const std::string& name, EncodableValue ours, msgpack::sbuffer peer_bytes) {
  static std::vector<std::unique_ptr<Shape>> shapes;
  auto shape = std::make_unique<Shape>();
  shape->name = name;
  shape->ours = std::move(ours);
  shape->our_bytes = EncodeWithStandardCodec(shape->ours);
  shape->peer_bytes = std::move(peer_bytes);
  shape->peer = PeerDecode(shape->peer_bytes);
  shapes.push_back(std::move(shape));
  return shapes.back().get();
}

// Seconds of CPU that `iterations` calls of `call` take.
double SecondsFor(benchmark::IterationCount iterations, const std::function<void()>& call) {
  const double start = talvor::bench::CpuSeconds();
  for (benchmark::IterationCount i = 0; i < iterations; ++i) call();
  return talvor::bench::CpuSeconds() - start;
}

// Registers BM_<Ours|Msgpack>/<operation>/<shape>. Ours reports x_msgpack:
// right after its own timed loop, the same number of msgpack-c operations
// is timed in the same conditions, and the counter is the ratio of the two.
// Given `our_floor`, it reports x_copy likewise: its time over the floor's.
void RegisterPair(const std::string& operation, const std::string& shape_name, const std::function<void()>& ours,
                  const std::function<void()>& peer, const std::function<void()>& our_floor = {}) {
  benchmark::RegisterBenchmark(("BM_Ours/" + operation + "/" + shape_name).c_str(),
                               [ours, peer, our_floor](benchmark::State& state) {
                                 const double start = talvor::bench::CpuSeconds();
                                 for (auto _ : state) ours();
                                 const double our_seconds = talvor::bench::CpuSeconds() - start;
                                 state.counters["x_msgpack"] = our_seconds / SecondsFor(state.iterations(), peer);
                                 if (our_floor) state.counters["x_copy"] = our_seconds / SecondsFor(state.iterations(), our_floor);
                               });
  benchmark::RegisterBenchmark(("BM_Msgpack/" + operation + "/" + shape_name).c_str(), [peer](benchmark::State& state) {
    for (auto _ : state) peer();
  });
}

void RegisterShape(const Shape* shape) {
  // What building the value alone costs in each model: a floor for decoding
  // that no decoder can go below.
  const std::function<void()> our_copy = [shape] {
    EncodableValue copy(shape->ours);
    benchmark::DoNotOptimize(copy);
  };
  RegisterPair(
      "Encode", shape->name, [shape] { benchmark::DoNotOptimize(EncodeWithStandardCodec(shape->ours)); },
      [shape] { benchmark::DoNotOptimize(PeerEncode(shape->peer.get())); });
  RegisterPair(
      "Decode", shape->name, [shape] { benchmark::DoNotOptimize(DecodeWithStandardCodec(shape->our_bytes)); },
      [shape] { benchmark::DoNotOptimize(PeerDecode(shape->peer_bytes)); }, our_copy);
  RegisterPair("Copy", shape->name, our_copy, [shape] { benchmark::DoNotOptimize(msgpack::clone(shape->peer.get())); });
}

}  // namespace

int main(int argc, char** argv) {
  return talvor::bench::RunBenchmarks(argc, argv, [] {
    RegisterShape(MakeShape("UpdateStatus", OurUpdateStatus(), PeerUpdateStatusBytes()));
    RegisterShape(MakeShape("ListOfSmallMaps/10000", ListOfSmallMaps(), PeerSmallMapsBytes()));
  });
}
