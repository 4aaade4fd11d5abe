#include "bench/benchmark_main.h"

#include <benchmark/benchmark.h>

#include <cstdio>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace talvor::bench {

namespace {

// glibc adjusts its thresholds as a program runs: freeing a block that it had
// mapped on its own raises the mapping threshold to that block's size and the
// trim threshold to twice it. Which blocks a case happens to free first then
// decides whether the next iterations get their memory back from the kernel,
// faulted in page by page, or from the heap: a tenfold difference for a value
// of many small nodes, and a different one from program to program. Fixed
// thresholds, above any block the cases allocate, keep every allocation on
// the heap and the freed memory in it, so that the figures measure the code.
#if defined(__GLIBC__)
constexpr int kMmapThreshold = 32 * 1024 * 1024;  // the highest glibc takes on 64-bit
constexpr int kTrimThreshold = 512 * 1024 * 1024;

bool PinAllocatorThresholds() {
  return mallopt(M_MMAP_THRESHOLD, kMmapThreshold) == 1 && mallopt(M_TRIM_THRESHOLD, kTrimThreshold) == 1;
}
#else
bool PinAllocatorThresholds() { return true; }
#endif

}  // namespace

int RunBenchmarks(int argc, char** argv, const std::function<void()>& register_cases) {
  if (!PinAllocatorThresholds()) {
    std::fprintf(stderr, "the allocator's thresholds could not be pinned\n");
    return 1;
  }
  if (register_cases) register_cases();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace talvor::bench
