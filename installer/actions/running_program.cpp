#include "installer/actions/running_program.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <map>
#include <vector>

#include "installer/actions/folder_rules.h"
#include "runner/win32_handles.h"

namespace talvor::installer {

namespace {

constexpr wchar_t kMainWindowClass[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
constexpr wchar_t kMainWindowTitle[] = L"Talvor VPN";
constexpr DWORD kPollMs = 100;
constexpr DWORD kForcedEndWaitMs = 5000;

struct Tracked {
  UniqueKernelHandle handle;
  std::wstring image;
  bool asked = false;
};

std::wstring ImageOf(HANDLE process) {
  std::vector<wchar_t> buffer(32768);
  DWORD size = static_cast<DWORD>(buffer.size());
  if (!QueryFullProcessImageNameW(process, 0, buffer.data(), &size)) return {};
  return std::wstring(buffer.data(), size);
}

DWORD SessionOf(DWORD process_id) {
  DWORD session = 0;
  return ProcessIdToSessionId(process_id, &session) ? session : static_cast<DWORD>(-1);
}

// The processes of this session running an executable from `folder`, each
// opened to wait for it and, if need be, to end it.
std::map<DWORD, Tracked> ProcessesIn(const std::wstring& folder) {
  std::map<DWORD, Tracked> found;
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return found;
  const DWORD own_session = SessionOf(GetCurrentProcessId());
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId() || SessionOf(entry.th32ProcessID) != own_session) continue;
    UniqueKernelHandle process(
        OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process) {
      process.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    }
    if (!process) continue;
    std::wstring image = ImageOf(process.get());
    if (!IsInFolder(image, folder)) continue;
    found[entry.th32ProcessID] = Tracked{std::move(process), std::move(image), false};
  }
  return found;
}

std::vector<HWND> MainWindowsOf(DWORD process_id) {
  struct Search {
    DWORD process_id;
    std::vector<HWND> windows;
  } search{process_id, {}};
  EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        auto* search = reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t class_name[64] = {};
        wchar_t title[64] = {};
        if (owner == search->process_id && GetClassNameW(window, class_name, 64) > 0 &&
            lstrcmpW(class_name, kMainWindowClass) == 0 && GetWindowTextW(window, title, 64) >= 0 &&
            lstrcmpW(title, kMainWindowTitle) == 0) {
          search->windows.push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.windows;
}

bool HasEnded(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

std::wstring Describe(DWORD process_id, const Tracked& process) {
  return L"process " + std::to_wstring(process_id) + L" (" + process.image + L")";
}

void AskToClose(DWORD process_id, Tracked& process, const Log& log) {
  const std::vector<HWND> windows = MainWindowsOf(process_id);
  if (windows.empty()) return;  // not yet, or never: it may still open one
  process.asked = true;
  for (HWND window : windows) {
    if (PostMessageW(window, WM_CLOSE, 0, 0)) {
      log(L"Asked " + Describe(process_id, process) + L" to close.");
    } else {
      log(L"Could not ask " + Describe(process_id, process) + L" to close: error " +
          std::to_wstring(GetLastError()) + L".");
    }
  }
}

void WaitForAny(const std::map<DWORD, Tracked>& tracked, DWORD milliseconds) {
  std::vector<HANDLE> handles;
  for (const auto& [id, process] : tracked) {
    if (handles.size() == MAXIMUM_WAIT_OBJECTS) break;
    handles.push_back(process.handle.get());
  }
  WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, milliseconds);
}

void EndForcibly(DWORD process_id, const Tracked& process, const Log& log) {
  if (TerminateProcess(process.handle.get(), kForcedExitCode) &&
      WaitForSingleObject(process.handle.get(), kForcedEndWaitMs) == WAIT_OBJECT_0) {
    log(L"Ended " + Describe(process_id, process) + L" forcibly: it did not close in time.");
  } else {
    log(L"Could not end " + Describe(process_id, process) + L": error " + std::to_wstring(GetLastError()) + L".");
  }
}

}  // namespace

void CloseProgramsIn(const std::wstring& folder, std::chrono::milliseconds grace, const Log& log) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(grace.count());
  std::map<DWORD, Tracked> tracked;
  for (;;) {
    for (auto& [id, process] : ProcessesIn(folder)) {
      if (tracked.count(id) == 0) tracked.emplace(id, std::move(process));
    }
    for (auto it = tracked.begin(); it != tracked.end();) {
      if (HasEnded(it->second.handle.get())) {
        if (it->second.asked) log(Describe(it->first, it->second) + L" has ended.");
        it = tracked.erase(it);
        continue;
      }
      if (!it->second.asked) AskToClose(it->first, it->second, log);
      ++it;
    }
    if (tracked.empty() || GetTickCount64() >= deadline) break;
    WaitForAny(tracked, kPollMs);
  }
  for (const auto& [id, process] : tracked) EndForcibly(id, process, log);
}

}  // namespace talvor::installer
