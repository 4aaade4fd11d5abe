// A long session: many status reports and many trips of the window to the
// tray and back. The program still answers promptly at the end and its
// private memory grows by less than kGrowthBound.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <optional>
#include <string>

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

EncodableValue Status(int index) {
  const bool connected = index % 2 == 1;
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
      PostMessageW(program.window, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONDBLCLK);
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

  const auto asked = std::chrono::steady_clock::now();
  const std::optional<MethodReply> last =
      app.CallMethod(kRuntimeChannel, "hasPendingTunLaunch", EncodableValue(), program->id(), kPrompt);
  const auto answered = std::chrono::steady_clock::now();
  ASSERT_TRUE(last) << "no answer within " << kPrompt.count() << " ms after the soak";
  EXPECT_EQ(last->value, EncodableValue(false));
  const std::optional<SIZE_T> after = PrivateBytes(program->process.handle());
  ASSERT_TRUE(after);
  const long long growth = static_cast<long long>(*after) - static_cast<long long>(*before);
  EXPECT_LT(growth, static_cast<long long>(kGrowthBound));
  // The last report (odd: connected) is what the tray shows.
  const int last_report = 200 + kStatusReports - 1;
  EXPECT_TRUE(WaitForTrayIconState(program->tray_icon,
                                   L"Talvor VPN \u2014 Подключено (Сервер " + std::to_wstring(last_report) + L")",
                                   TrayBadge::kGreen));

  using Ms = std::chrono::duration<double, std::milli>;
  std::cout << "[ figure ] " << kStatusReports << " status reports in " << Ms(reports_done - start).count() / 1000
            << " s, " << kWindowCycles << " minimise/activate cycles in " << Ms(cycles_done - reports_done).count() / 1000
            << " s; last call answered in " << Ms(answered - asked).count() << " ms; private memory "
            << *before / 1024 << " KiB -> " << *after / 1024 << " KiB, growth " << growth / 1024 << " KiB (bound "
            << kGrowthBound / 1024 << " KiB)" << std::endl;

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

}  // namespace
}  // namespace talvor::test
