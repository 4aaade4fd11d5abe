// A long session: many status reports and many trips of the window to the
// tray and back. The program still answers promptly at the end and its
// private memory stays bounded. The default run is sized to take a couple of
// minutes; the long run (its own CTest label, "soak") is ten times longer and
// bounds the growth per block of work after warm-up, so that a small leak
// shows as a steady slope rather than hiding under one absolute figure.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "tests/scenarios/scenario.h"
#include "tests/support/bundle_copy.h"

namespace talvor::test {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using standins::MethodReply;

constexpr int kStatusReports = 10000;
constexpr int kWindowCycles = 1000;
// Allocators keep some of what they freed; a leak of a few hundred bytes per
// report or cycle would pass 4 MiB.
constexpr SIZE_T kGrowthBound = 4u * 1024u * 1024u;

// The long run: blocks of 10 000 reports and of 1 000 cycles, the first
// block of each kind being warm-up. Past it, each block may grow the private
// memory by at most kBlockGrowthBound on average: a leak of 64 bytes per
// cycle, or of 7 bytes per report, would pass it.
constexpr int kLongReportBlocks = 10;
constexpr int kReportsPerBlock = 10000;
constexpr int kLongCycleBlocks = 10;
constexpr int kCyclesPerBlock = 1000;
constexpr long long kBlockGrowthBound = 64 * 1024;

constexpr auto kPrompt = std::chrono::milliseconds(500);
constexpr auto kStep = std::chrono::seconds(10);

// Memory that the process alone uses, in bytes; nothing when it cannot be
// read. Windows gives the private commit as PrivateUsage and again as
// PagefileUsage. Wine leaves PrivateUsage at 0 and gives as PagefileUsage the
// process's anonymous resident memory (RssAnon in /proc/PID/status): its
// private memory as far as it is in use, which is what a leak grows.
std::optional<SIZE_T> PrivateBytes(HANDLE process) {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters))) {
    return std::nullopt;
  }
  const SIZE_T bytes = counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
  if (bytes == 0) return std::nullopt;
  return bytes;
}

// Odd reports are "connected", so that the tray's badge and tooltip change
// with every report.
constexpr bool ConnectedIn(int report) { return report % 2 == 1; }

// The last report of each run is a connected one, whose tooltip names its
// server: the tray must show that report, not one before it.
constexpr int kLastReport = 200 + kStatusReports - 1;
constexpr int kLongLastReport = kLongReportBlocks * kReportsPerBlock - 1;
static_assert(ConnectedIn(kLastReport) && ConnectedIn(kLongLastReport), "each run ends on a connected report");

EncodableValue Status(int index) {
  const bool connected = ConnectedIn(index);
  return EncodableValue(EncodableMap{{EncodableValue("connected"), EncodableValue(connected)},
                                     {EncodableValue("canToggle"), EncodableValue(index % 3 != 0)},
                                     {EncodableValue("serverName"), EncodableValue("Сервер " + std::to_string(index))}});
}

bool Reports(AppConnection& app, const ShownProgram& program, int count, int first) {
  for (int index = first; index < first + count; ++index) {
    const std::optional<MethodReply> reply =
        app.CallMethod(kTrayChannel, "updateStatus", Status(index), program.id(), kStep);
    if (!reply || reply->kind != MethodReply::Kind::kSuccess) {
      ADD_FAILURE() << "status report " << index << ": " << (reply ? standins::DescribeReply(*reply) : "no reply");
      return false;
    }
  }
  return true;
}

bool Shown(HWND window) {
  const WindowState state = ReadWindowState(window);
  return state.visible && !state.minimised;
}

// Minimised to the tray, then back by a double click on the icon or by the
// application's request, in turn.
bool WindowCycles(AppConnection& app, const ShownProgram& program, int count) {
  for (int cycle = 0; cycle < count; ++cycle) {
    PostMessageW(program.window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    if (!WaitUntil([&] { return !IsWindowVisible(program.window); }, kStep)) {
      ADD_FAILURE() << "cycle " << cycle << ": the window did not go to the tray";
      return false;
    }
    if (cycle % 2 == 0) {
      ClickTrayIcon(program.tray_icon, TrayClick::kDouble);
    } else if (!app.CallMethod(kRuntimeChannel, "activateMainWindow", EncodableValue(), program.id(), kStep)) {
      ADD_FAILURE() << "cycle " << cycle << ": activateMainWindow unanswered";
      return false;
    }
    if (!WaitUntil([&] { return Shown(program.window); }, kStep)) {
      ADD_FAILURE() << "cycle " << cycle << ": the window did not come back";
      return false;
    }
  }
  return true;
}

using Ms = std::chrono::duration<double, std::milli>;

// The program answers one more call promptly and its tray shows the last
// report, a connected one. Returns how long the answer took.
Ms ExpectPromptAndShowingReport(AppConnection& app, const ShownProgram& program, int last_report) {
  const auto asked = std::chrono::steady_clock::now();
  const std::optional<MethodReply> last =
      app.CallMethod(kRuntimeChannel, "hasPendingTunLaunch", EncodableValue(), program.id(), kPrompt);
  const Ms took = std::chrono::steady_clock::now() - asked;
  EXPECT_TRUE(last) << "no answer within " << kPrompt.count() << " ms after the soak";
  if (last) {
    EXPECT_EQ(last->value, EncodableValue(false));
  }
  EXPECT_TRUE(WaitForTrayIconState(program.tray_icon,
                                   L"Talvor VPN \u2014 Подключено (Сервер " + std::to_wstring(last_report) + L")",
                                   TrayBadge::kGreen));
  return took;
}

TEST(Soak, ManyReportsAndWindowCyclesLeaveTheProgramPromptAndItsMemoryBounded) {
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, BundleDirectory());
  ASSERT_TRUE(program);

  // Warm-up: the first of each kind of work fills caches and pools that stay.
  ASSERT_TRUE(Reports(app, *program, 200, 0));
  ASSERT_TRUE(WindowCycles(app, *program, 4));
  const std::optional<SIZE_T> before = PrivateBytes(program->process.handle());
  ASSERT_TRUE(before) << "GetProcessMemoryInfo gives no private memory, error " << GetLastError();

  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Reports(app, *program, kStatusReports, 200));
  const auto reports_done = std::chrono::steady_clock::now();
  ASSERT_TRUE(WindowCycles(app, *program, kWindowCycles));
  const auto cycles_done = std::chrono::steady_clock::now();

  const Ms answer = ExpectPromptAndShowingReport(app, *program, kLastReport);
  const std::optional<SIZE_T> after = PrivateBytes(program->process.handle());
  ASSERT_TRUE(after);
  const long long growth = static_cast<long long>(*after) - static_cast<long long>(*before);
  EXPECT_LT(growth, static_cast<long long>(kGrowthBound));

  std::cout << "[ figure ] " << kStatusReports << " status reports in " << Ms(reports_done - start).count() / 1000
            << " s, " << kWindowCycles << " minimise/activate cycles in " << Ms(cycles_done - reports_done).count() / 1000
            << " s; last call answered in " << answer.count() << " ms; private memory " << *before / 1024
            << " KiB -> " << *after / 1024 << " KiB, growth " << growth / 1024 << " KiB (bound "
            << kGrowthBound / 1024 << " KiB)" << std::endl;

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

// Private memory after each block of work; the first block is warm-up.
struct BlockSamples {
  std::vector<long long> bytes;

  // Average growth per block after the warm-up block.
  long long SlopeAfterWarmUp() const {
    if (bytes.size() < 3) return 0;
    return (bytes.back() - bytes[1]) / static_cast<long long>(bytes.size() - 2);
  }
  std::string Describe() const {
    std::string text;
    for (long long value : bytes) text += (text.empty() ? "" : " ") + std::to_string(value / 1024);
    return text + " KiB";
  }
};

TEST(LongSoak, MemoryGrowthPerBlockOfWorkStaysFlatAfterWarmUp) {
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, BundleDirectory());
  ASSERT_TRUE(program);

  BlockSamples report_samples;
  const auto start = std::chrono::steady_clock::now();
  for (int block = 0; block < kLongReportBlocks; ++block) {
    ASSERT_TRUE(Reports(app, *program, kReportsPerBlock, block * kReportsPerBlock));
    const std::optional<SIZE_T> bytes = PrivateBytes(program->process.handle());
    ASSERT_TRUE(bytes) << "GetProcessMemoryInfo gives no private memory, error " << GetLastError();
    report_samples.bytes.push_back(static_cast<long long>(*bytes));
  }
  const auto reports_done = std::chrono::steady_clock::now();

  BlockSamples cycle_samples;
  for (int block = 0; block < kLongCycleBlocks; ++block) {
    ASSERT_TRUE(WindowCycles(app, *program, kCyclesPerBlock));
    const std::optional<SIZE_T> bytes = PrivateBytes(program->process.handle());
    ASSERT_TRUE(bytes);
    cycle_samples.bytes.push_back(static_cast<long long>(*bytes));
  }
  const auto cycles_done = std::chrono::steady_clock::now();

  const Ms answer = ExpectPromptAndShowingReport(app, *program, kLongLastReport);
  EXPECT_LE(report_samples.SlopeAfterWarmUp(), kBlockGrowthBound) << report_samples.Describe();
  EXPECT_LE(cycle_samples.SlopeAfterWarmUp(), kBlockGrowthBound) << cycle_samples.Describe();

  std::cout << "[ figure ] " << kLongReportBlocks * kReportsPerBlock << " status reports in "
            << Ms(reports_done - start).count() / 1000 << " s, private memory after each " << kReportsPerBlock << ": "
            << report_samples.Describe() << ", growth per block after warm-up "
            << report_samples.SlopeAfterWarmUp() / 1024.0 << " KiB (bound " << kBlockGrowthBound / 1024 << " KiB)"
            << std::endl;
  std::cout << "[ figure ] " << kLongCycleBlocks * kCyclesPerBlock << " minimise/activate cycles in "
            << Ms(cycles_done - reports_done).count() / 1000 << " s, private memory after each " << kCyclesPerBlock
            << ": " << cycle_samples.Describe() << ", growth per block after warm-up "
            << cycle_samples.SlopeAfterWarmUp() / 1024.0 << " KiB (bound " << kBlockGrowthBound / 1024
            << " KiB); last call answered in " << answer.count() << " ms" << std::endl;

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

}  // namespace
}  // namespace talvor::test
