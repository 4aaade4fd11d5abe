#include "runner/elevation/tun_relaunch.h"

#include <filesystem>
#include <system_error>

#include "runner/elevation/pending_tun_launch.h"
#include "runner/elevation/windows_error.h"
#include "runner/log/log.h"
#include "runner/utils.h"
#include "runner/win32_handles.h"

namespace {

constexpr char kPrepareFailedMessage[] = "Не удалось подготовить elevated-запуск для TUN.";

void DeleteIgnoringErrors(const std::wstring& path) {
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::path(path), ignored);
}

bool ShellExecuteWithSystem(SHELLEXECUTEINFOW* info) { return ShellExecuteExW(info) != FALSE; }

// The system's text for a failure. A failure that left no error code behind
// (the shell does so after showing its own error box) gets no text rather
// than the text for success; the caller then uses its own.
std::string FailureText(DWORD code) {
  return code == ERROR_SUCCESS ? std::string() : NarrowUtf8(FormatWindowsError(code));
}

}  // namespace

ElevatedLaunchCalls ElevatedLaunchCalls::System() {
  return ElevatedLaunchCalls{[] { return GatherInstallationFacts(); }, ShellExecuteWithSystem};
}

std::wstring PendingTunLaunchParameters(const std::wstring& file_path) {
  return WidenUtf8(kPendingTunLaunchArgumentPrefix) + L"\"" + file_path + L"\"";
}

bool RelaunchElevatedWithPayload(HWND window, const std::string& payload,
                                 std::string* error_message, bool* cancelled,
                                 const ElevatedLaunchCalls& calls) {
  if (error_message != nullptr) error_message->clear();
  if (cancelled != nullptr) *cancelled = false;
  auto fail = [error_message](const std::string& text) {
    if (error_message != nullptr) *error_message = text;
    return false;
  };

  // Checked before anything is written: a copy that may not be elevated
  // leaves no launch file behind.
  const InstallationFacts installation = calls.gather_installation_facts();
  if (installation.executable.empty()) {
    talvor::log::Error("relaunch", "refused: no executable path, " +
                                       talvor::log::DescribeError(installation.error));
    return fail(FailureText(installation.error));
  }
  const std::wstring executable_path = ProtectedExecutablePath(installation);
  if (executable_path.empty()) {
    talvor::log::Warning("relaunch", "refused: " + talvor::log::Text(installation.executable) +
                                         " is not installed under Program Files on a fixed drive"
                                         " without reparse points");
    return fail(kTunNeedsInstallationMessage);
  }

  std::string write_message;
  const std::wstring file_path = WritePendingTunLaunchFile(payload, &write_message);
  if (file_path.empty()) {
    talvor::log::Error("relaunch", "failed: launch file not written: " + write_message);
    return fail(write_message.empty() ? std::string(kPrepareFailedMessage) : write_message);
  }
  const std::wstring working_directory = ParentDirectory(executable_path);
  const std::wstring parameters = PendingTunLaunchParameters(file_path);

  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = window;
  info.lpVerb = L"runas";
  info.lpFile = executable_path.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = working_directory.c_str();
  info.nShow = SW_SHOWNORMAL;

  if (!calls.shell_execute(&info)) {
    const DWORD code = GetLastError();
    if (code == ERROR_CANCELLED && cancelled != nullptr) *cancelled = true;
    talvor::log::Write(code == ERROR_CANCELLED ? talvor::log::Level::kInfo : talvor::log::Level::kError,
                       "relaunch", code == ERROR_CANCELLED ? std::string("cancelled by the user")
                                                           : "failed: " + talvor::log::DescribeError(code));
    DeleteIgnoringErrors(file_path);
    return fail(FailureText(code));
  }
  // The new instance runs on its own; nothing waits for it.
  talvor::UniqueKernelHandle started(info.hProcess);
  talvor::log::Info("relaunch", "started, process " + std::to_string(GetProcessId(info.hProcess)));
  if (window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
  return true;
}
