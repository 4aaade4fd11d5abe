#include "tests/runner/process_probe.h"

#include <sstream>

#include "runner/utils.h"
#include "runner/win32_handles.h"
#include "tests/support/system_state.h"
#include "tests/support/wait.h"

namespace talvor::test {
namespace {

std::string FromHex(const std::string& text) {
  std::string bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

}  // namespace

std::wstring ProbeProgramPath() {
  // The build hands the path as the build system knows it; the system makes
  // it a full path of this machine (a drive-relative path under Wine).
  return BuildPath(TALVOR_RUNNER_PROBE);
}

void DirectProbeReportsTo(const std::wstring& report_path) {
  SetEnvironmentVariableW(L"TALVOR_PROBE_OUTPUT", report_path.c_str());
}

std::optional<ProbeReport> ReadProbeReport(const std::wstring& report_path) {
  const std::optional<std::string> bytes = ReadFileBytes(report_path);
  if (!bytes) return std::nullopt;
  std::istringstream file(*bytes);
  ProbeReport report;
  bool has_pid = false;
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string key, value;
    fields >> key;
    std::getline(fields >> std::ws, value);
    if (key == "pid") {
      report.process_id = static_cast<DWORD>(std::stoul(value));
      has_pid = true;
    } else if (key == "dir") {
      report.executable_directory = FromHex(value);
    } else if (key == "arg") {
      report.arguments.push_back(FromHex(value));
    }
  }
  if (!has_pid) return std::nullopt;
  return report;
}

std::optional<ProbeReport> RunProbe(const std::wstring& program, const std::wstring& command_line,
                                    const std::wstring& report_path,
                                    const std::wstring& working_directory) {
  DirectProbeReportsTo(report_path);
  std::wstring mutable_command_line = command_line;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(program.c_str(), mutable_command_line.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, working_directory.empty() ? nullptr : working_directory.c_str(),
                      &startup, &started)) {
    return std::nullopt;
  }
  UniqueKernelHandle process(started.hProcess);
  UniqueKernelHandle thread(started.hThread);
  const bool ended = WaitUntil(
      [&] { return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0; });
  if (!ended) {
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
    return std::nullopt;
  }
  return ReadProbeReport(report_path);
}

}  // namespace talvor::test
