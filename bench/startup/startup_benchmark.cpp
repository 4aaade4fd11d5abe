// Start-up of the bundle's program against the floor, in one run and in turn:
// talvor_app.exe from its start to its first frame (seen on the engine
// stand-in's test connection), then closed; the minimal window program from
// its start to its first paint, after which it exits by itself. Prints each
// round and the medians and their ratio.
//
//   startup_benchmark.exe [ROUNDS]      (default 15)
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "runner/win32_handles.h"
#include "tests/support/app_connection.h"
#include "tests/support/bundle_copy.h"
#include "tests/support/child_process.h"
#include "tests/support/talvor_program.h"

namespace talvor::test {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr int kDefaultRounds = 15;
constexpr wchar_t kFloorProgram[] = L"minimal_window.exe";

std::optional<double> Failed(const std::string& why) {
  std::fprintf(stderr, "%s\n", why.c_str());
  return std::nullopt;
}

// Start to first frame of talvor_app.exe, which is then closed; nothing,
// with the reason on standard error, when it does not get there or does not
// end with 0.
std::optional<double> TimeProgram(AppConnection& app) {
  const auto start = Clock::now();
  std::optional<ChildProcess> program = StartProgram(BundleDirectory());
  if (!program) return Failed("talvor_app.exe did not start");
  const std::optional<AppEvent> frame = app.WaitForEvent(AppEventKind::kFirstFrame, program->id());
  const auto shown = Clock::now();
  if (!frame) return Failed("talvor_app.exe showed no first frame\n" + app.Describe());
  HWND window = FindMainWindow(program->id());
  if (window == nullptr) return Failed("talvor_app.exe has no main window");
  PostMessageW(window, WM_CLOSE, 0, 0);
  const std::optional<DWORD> exit_code = program->WaitForExit();
  if (exit_code != 0u) {
    return Failed("talvor_app.exe ended with " + (exit_code ? std::to_string(*exit_code) : "nothing in time") +
                  "; standard error:\n" + program->StandardError());
  }
  app.WaitForEvent(AppEventKind::kDisconnected, program->id());
  return Milliseconds(shown - start).count();
}

// Start to first paint of the floor program, which then ends with 0.
std::optional<double> TimeFloor() {
  const std::wstring event_name = L"TalvorStartupFloorPainted-" + std::to_wstring(GetCurrentProcessId());
  const UniqueKernelHandle painted(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  if (!painted) return std::nullopt;
  const auto start = Clock::now();
  std::optional<ChildProcess> floor =
      ChildProcess::Start(TestExecutableDirectory() + L"\\" + kFloorProgram, {event_name});
  if (!floor) return Failed("the floor program did not start");
  const HANDLE either[] = {painted.get(), floor->handle()};
  const DWORD first = WaitForMultipleObjects(2, either, FALSE, 20000);
  const auto shown = Clock::now();
  if (first != WAIT_OBJECT_0 || floor->WaitForExit() != 0u) return Failed("the floor program did not paint and end");
  return Milliseconds(shown - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

int Run(int rounds) {
  AppConnection app;
  std::vector<double> program_times;
  std::vector<double> floor_times;
  // One unmeasured round of each: the first start of a program loads its
  // files from disk.
  for (int round = 0; round <= rounds; ++round) {
    const std::optional<double> program = TimeProgram(app);
    const std::optional<double> floor = TimeFloor();
    if (!program || !floor) {
      std::fprintf(stderr, "round %d failed\n", round);
      return 1;
    }
    if (round == 0) continue;
    program_times.push_back(*program);
    floor_times.push_back(*floor);
    std::printf("round %2d: talvor_app.exe %7.1f ms to first frame, floor %7.1f ms\n", round, *program, *floor);
  }
  const double program = Median(program_times);
  const double floor = Median(floor_times);
  std::printf("median of %d rounds: talvor_app.exe %.1f ms, floor %.1f ms, ratio %.2f (target 1.50 or less)\n",
              rounds, program, floor, program / floor);
  return 0;
}

}  // namespace
}  // namespace talvor::test

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : talvor::test::kDefaultRounds;
  if (rounds < 1) {
    std::fprintf(stderr, "usage: startup_benchmark.exe [ROUNDS]\n");
    return 2;
  }
  return talvor::test::Run(rounds);
}
