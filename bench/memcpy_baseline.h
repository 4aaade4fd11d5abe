#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace talvor::bench {

// Thread CPU time, the clock Google Benchmark reports as "CPU".
double CpuSeconds();

// Seconds that memcpy takes per byte for copies of `bytes` bytes between two
// buffers already in memory: the best of several rounds, measured once per
// size in this run.
double MemcpySecondsPerByte(size_t bytes);

// Reports `bytes` per iteration as throughput, and the counter "x_memcpy":
// this case's throughput as a fraction of memcpy's for the same byte count
// (1 is as fast as memcpy). `loop_seconds` is the CPU time of the case's
// timed loop, taken around it with CpuSeconds.
void ReportAgainstMemcpy(benchmark::State& state, size_t bytes, double loop_seconds);

// Seconds of CPU per call of `call`: the best of five rounds of 0.1 s, so that
// a yardstick measured once in a run survives a busy machine.
double BestSecondsPerCall(const std::function<void()>& call);

// Registers BM_Memcpy/<bytes> (once per size), so that the yardstick itself
// shows in the output.
void RegisterMemcpy(size_t bytes);

}  // namespace talvor::bench
