#include "bench/memcpy_baseline.h"

#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace talvor::bench {

namespace {

// Source and destination start on cache-line boundaries: how the two happen
// to be placed relative to each other otherwise changes memcpy's speed on
// cached sizes by up to half.
class Buffers {
 public:
  explicit Buffers(size_t bytes) : bytes_(bytes), source_(bytes + kLine, 0x5A), destination_(bytes + kLine, 0) {}

  void CopyOnce() {
    uint8_t* destination = Aligned(destination_);
    std::memcpy(destination, Aligned(source_), bytes_);
    benchmark::DoNotOptimize(destination);
    benchmark::ClobberMemory();
  }

 private:
  static constexpr size_t kLine = 64;

  static uint8_t* Aligned(std::vector<uint8_t>& storage) {
    const auto address = reinterpret_cast<uintptr_t>(storage.data());
    return storage.data() + (kLine - address % kLine) % kLine;
  }

  size_t bytes_;
  std::vector<uint8_t> source_;
  std::vector<uint8_t> destination_;
};

}  // namespace

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double MemcpySecondsPerByte(size_t bytes) {
  static std::map<size_t, double> measured;
  auto found = measured.find(bytes);
  if (found != measured.end()) return found->second;

  Buffers buffers(bytes);
  for (int i = 0; i < 3; ++i) buffers.CopyOnce();  // fault the pages in, warm the caches
  const double best = BestSecondsPerCall([&buffers] { buffers.CopyOnce(); }) / static_cast<double>(bytes);
  measured[bytes] = best;
  return best;
}

void ReportAgainstMemcpy(benchmark::State& state, size_t bytes, double loop_seconds) {
  const double total = static_cast<double>(state.iterations()) * static_cast<double>(bytes);
  state.SetBytesProcessed(static_cast<int64_t>(total));
  if (loop_seconds > 0) state.counters["x_memcpy"] = total * MemcpySecondsPerByte(bytes) / loop_seconds;
}

double BestSecondsPerCall(const std::function<void()>& call) {
  // Batches of at least a millisecond, so that reading the clock costs nothing.
  size_t batch = 1;
  for (;;) {
    const double start = CpuSeconds();
    for (size_t i = 0; i < batch; ++i) call();
    if (CpuSeconds() - start >= 1e-3) break;
    batch *= 2;
  }
  double best = 0;
  for (int round = 0; round < 5; ++round) {
    size_t calls = 0;
    const double start = CpuSeconds();
    double elapsed = 0;
    do {
      for (size_t i = 0; i < batch; ++i) call();
      calls += batch;
      elapsed = CpuSeconds() - start;
    } while (elapsed < 0.1);
    const double per_call = elapsed / static_cast<double>(calls);
    if (round == 0 || per_call < best) best = per_call;
  }
  return best;
}

void RegisterMemcpy(size_t bytes) {
  static std::set<size_t> registered;
  if (!registered.insert(bytes).second) return;
  benchmark::RegisterBenchmark(("BM_Memcpy/" + std::to_string(bytes)).c_str(), [bytes](benchmark::State& state) {
    Buffers buffers(bytes);
    const double start = CpuSeconds();
    for (auto _ : state) buffers.CopyOnce();
    ReportAgainstMemcpy(state, bytes, CpuSeconds() - start);
  });
}

}  // namespace talvor::bench
