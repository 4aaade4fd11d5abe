#pragma once

#include <functional>

namespace talvor::bench {

// The main function of every benchmark program: pins the allocator's
// thresholds (see the .cpp), calls `register_cases`, then runs the cases that
// the arguments select. Returns the program's exit code.
int RunBenchmarks(int argc, char** argv, const std::function<void()>& register_cases = {});

}  // namespace talvor::bench
