// The window's size and place at several monitor DPIs.
//
// Wine reads the DPI (HKCU\Control Panel\Desktop\LogPixels) once, when a
// process starts, so each DPI is measured by a child process of this test
// program. The child runs on a virtual desktop of its own, large enough that
// a 1275-pixel client area is not cut down to the 1024-pixel test screen.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "embedding/engine_api.h"
#include "runner/win32_handles.h"
#include "runner/window/win32_window.h"
#include "tests/support/system_state.h"

namespace talvor::test {
namespace {

constexpr wchar_t kChildDesktop[] = L"talvor-window-dpi";
constexpr wchar_t kChildDesktopSize[] = L"2000x2000";
constexpr LogicalPoint kOrigin{740, 95};
constexpr LogicalSize kSize{440, 850};

std::string Placement(UINT dpi, const RECT& client, const RECT& frame) {
  char text[128];
  std::snprintf(text, sizeof(text), "dpi %u, client %ldx%ld at %ld,%ld", dpi,
                client.right - client.left, client.bottom - client.top, frame.left, frame.top);
  return text;
}

// Run by the child processes only: reports the placement of the window.
TEST(Win32WindowDpiChild, DISABLED_ReportPlacement) {
  Win32Window window;
  ASSERT_TRUE(window.Open(L"Talvor VPN", kOrigin, kSize));
  const UINT dpi = FlutterDesktopGetDpiForMonitor(
      MonitorFromPoint(POINT{kOrigin.x, kOrigin.y}, MONITOR_DEFAULTTONEAREST));
  RECT frame{};
  GetWindowRect(window.NativeHandle(), &frame);
  std::printf("placement: %s\n", Placement(dpi, window.ClientBounds(), frame).c_str());
  std::fflush(stdout);
}

// Starts this program for the child case with the given DPI and returns the
// placement it reported.
std::string MeasureInChildProcess(DWORD dpi) {
  const RegistryValueGuard log_pixels(HKEY_CURRENT_USER, L"Control Panel\\Desktop",
                                      L"LogPixels");
  const RegistryValueGuard desktop_size(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops",
                                        kChildDesktop);
  if (!log_pixels.SetDword(dpi) || !desktop_size.SetString(kChildDesktopSize)) {
    return "could not write the registry";
  }

  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  UniqueKernelHandle output_read;
  UniqueKernelHandle output_write;
  if (!CreatePipe(output_read.put(), output_write.put(), &inheritable, 1 << 16)) {
    return "no pipe";
  }
  SetHandleInformation(output_read.get(), HANDLE_FLAG_INHERIT, 0);

  wchar_t program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring command_line = L"\"" + std::wstring(program) +
                              L"\" --gtest_also_run_disabled_tests"
                              L" --gtest_filter=Win32WindowDpiChild.* --gtest_color=no";
  std::wstring desktop = kChildDesktop;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.lpDesktop = desktop.data();
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output_write.get();
  startup.hStdError = output_write.get();
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return "could not start the child";
  }
  const UniqueKernelHandle process_handle(process.hProcess);
  const UniqueKernelHandle thread_handle(process.hThread);
  output_write.reset();

  if (WaitForSingleObject(process_handle.get(), 60000) != WAIT_OBJECT_0) {
    TerminateProcess(process_handle.get(), 1);
    WaitForSingleObject(process_handle.get(), 10000);
    return "the child did not finish";
  }
  std::string output;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(output_read.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    output.append(buffer, read);
  }
  const std::string marker = "placement: ";
  const size_t start = output.find(marker);
  if (start == std::string::npos) return "no placement reported:\n" + output;
  const size_t end = output.find_first_of("\r\n", start);
  return output.substr(start + marker.size(), end - start - marker.size());
}

TEST(Win32WindowDpi, ClientAreaAndPlaceAreScaledByTheMonitorDpi) {
  EXPECT_EQ(MeasureInChildProcess(96), "dpi 96, client 440x850 at 740,95");
  EXPECT_EQ(MeasureInChildProcess(120), "dpi 120, client 550x1062 at 925,118");
  EXPECT_EQ(MeasureInChildProcess(144), "dpi 144, client 660x1275 at 1110,142");
}

}  // namespace
}  // namespace talvor::test
