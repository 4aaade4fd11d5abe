#include "runner/log/log.h"

#include <shlobj.h>

#include <atomic>
#include <optional>

#include "runner/deep_link.h"
#include "runner/elevation/pending_tun_launch.h"
#include "runner/elevation/process_elevation.h"
#include "runner/elevation/windows_error.h"
#include "runner/log/log_files.h"
#include "runner/utils.h"

#ifndef TALVOR_VERSION_TEXT
#define TALVOR_VERSION_TEXT "unknown"
#endif

namespace talvor::log {

namespace {

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &path);
  std::wstring folder = SUCCEEDED(result) && path != nullptr ? path : L"";
  CoTaskMemFree(path);
  return folder;
}

// The profile folder as paths may name it: in long form, and in short form
// where temporary paths use that.
std::vector<std::string> ProfilePaths() {
  const std::wstring profile = KnownFolder(FOLDERID_Profile);
  if (profile.empty()) return {};
  std::vector<std::string> paths = {NarrowUtf8(profile)};
  std::wstring short_form(MAX_PATH, L'\0');
  const DWORD length = GetShortPathNameW(profile.c_str(), short_form.data(), MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    short_form.resize(length);
    if (short_form != profile) paths.push_back(NarrowUtf8(short_form));
  }
  return paths;
}

std::vector<std::wstring> LogFolderBelow() {
  return std::vector<std::wstring>(std::begin(kLogFolderBelowLocalAppData),
                                   std::end(kLogFolderBelowLocalAppData));
}

// The log of this process, opened at its first line.
class ProcessLog {
 public:
  static ProcessLog& Instance() {
    static ProcessLog log;
    return log;
  }

  void Write(Level level, std::string_view area, std::string_view message) {
    if (!files_ || stopped_.load()) return;
    SYSTEMTIME utc = {};
    GetSystemTime(&utc);
    const std::string line =
        FormatLine(utc, writer_, level, area, HideProfile(message, profile_paths_));
    if (!files_->Append(line)) stopped_.store(true);
  }

 private:
  ProcessLog()
      : writer_{GetCurrentProcessId(), IsProcessElevated()},
        profile_paths_(ProfilePaths()),
        files_(Open()) {}

  static std::optional<LogFiles> Open() {
    const std::wstring base = KnownFolder(FOLDERID_LocalAppData);
    if (base.empty()) return std::nullopt;
    return LogFiles::Open(base, LogFolderBelow(), LogLockName());
  }

  const Writer writer_;
  const std::vector<std::string> profile_paths_;
  std::optional<LogFiles> files_;
  std::atomic<bool> stopped_{false};
};

std::string WindowsVersion() {
  using GetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const FARPROC procedure = ntdll != nullptr ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
  if (procedure == nullptr) return "unknown";
  const auto get_version =
      reinterpret_cast<GetVersionFunction>(reinterpret_cast<void (*)()>(procedure));
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (get_version(&version) != 0) return "unknown";
  return std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) +
         "." + std::to_string(version.dwBuildNumber);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

void Write(Level level, std::string_view area, std::string_view message) noexcept {
  try {
    ProcessLog::Instance().Write(level, area, message);
  } catch (...) {
    // Not even memory for a line: the program goes on without it.
  }
}

void Start(const std::vector<std::string>& arguments) noexcept {
  try {
    Info("start", std::string("version ") + TALVOR_VERSION_TEXT + ", Windows " + WindowsVersion() +
                      ", " + (IsProcessElevated() ? "elevated" : "not elevated") +
                      ", arguments: " + DescribeArguments(arguments));
  } catch (...) {
  }
}

void Box(Level level, std::string_view caption, std::string_view text) noexcept {
  try {
    Write(level, "box", std::string(caption) + ": " + std::string(text));
  } catch (...) {
  }
}

void Box(Level level, const std::wstring& caption, const std::wstring& text) noexcept {
  try {
    Box(level, NarrowUtf8(caption), NarrowUtf8(text));
  } catch (...) {
  }
}

int Exit(int code) noexcept {
  try {
    Info("exit", "exit code " + std::to_string(code));
  } catch (...) {
  }
  return code;
}

std::string Text(const std::wstring& text) { return NarrowUtf8(text); }

std::string DescribeLink(std::string_view link) {
  const std::string length = std::to_string(link.size()) + " bytes";
  const size_t colon = link.find(':');
  if (colon == std::string_view::npos || !StartsWithUriScheme(std::string(link))) {
    return "text of " + length;
  }
  return "link " + CleanMessage(link.substr(0, colon + 1)) + " of " + length;
}

std::string DescribeArguments(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return "none";
  std::string kinds;
  for (const std::string& argument : arguments) {
    if (!kinds.empty()) kinds += ", ";
    if (StartsWith(argument, kPendingTunLaunchArgumentPrefix)) {
      kinds += "pending launch";
    } else if (StartsWithUriScheme(argument)) {
      kinds += DescribeLink(argument);
    } else {
      kinds += "other";
    }
  }
  return kinds;
}

std::string DescribeRect(const RECT& rect) {
  return "(" + std::to_string(rect.left) + ", " + std::to_string(rect.top) + ")-(" +
         std::to_string(rect.right) + ", " + std::to_string(rect.bottom) + ")";
}

std::string DescribeError(DWORD code) {
  return "error " + std::to_string(code) + " (" + NarrowUtf8(FormatWindowsError(code)) + ")";
}

std::wstring LogFolder() {
  std::wstring folder = KnownFolder(FOLDERID_LocalAppData);
  if (folder.empty()) return folder;
  for (const wchar_t* name : kLogFolderBelowLocalAppData) folder += std::wstring(L"\\") + name;
  return folder;
}

ExplorerCommand ExplorerCommandFor(const std::wstring& windows_folder, const std::wstring& folder) {
  ExplorerCommand command;
  command.program = windows_folder + L"\\explorer.exe";
  command.command_line = L"\"" + command.program + L"\" \"" + folder + L"\"";
  return command;
}

bool OpenLogFolderInExplorer() {
  const std::wstring folder = LogFolder();
  wchar_t windows_folder[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryW(windows_folder, MAX_PATH);
  if (folder.empty() || length == 0 || length >= MAX_PATH) return false;
  ExplorerCommand command = ExplorerCommandFor(windows_folder, folder);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(command.program.c_str(), command.command_line.data(), nullptr, nullptr, FALSE,
                      0, nullptr, windows_folder, &startup, &started)) {
    Warning("tray", "log folder not shown: " + DescribeError(GetLastError()));
    return false;
  }
  const UniqueKernelHandle process(started.hProcess);
  const UniqueKernelHandle thread(started.hThread);
  Info("tray", "log folder shown by explorer.exe, process " + std::to_string(started.dwProcessId));
  return true;
}

}  // namespace talvor::log
