// Starts this program again with administrator rights for a TUN connection,
// handing the user interface's launch payload to the new instance.
#ifndef TALVOR_RUNNER_ELEVATION_TUN_RELAUNCH_H_
#define TALVOR_RUNNER_ELEVATION_TUN_RELAUNCH_H_

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>

#include "runner/elevation/protected_installation.h"

// Shown to the user when the running copy may not be started with
// administrator rights (UTF-8).
inline constexpr char kTunNeedsInstallationMessage[] =
    "Для режима TUN Talvor VPN должен быть установлен для всех пользователей. "
    "Установите программу установщиком и запустите её из меню «Пуск».";

// The system calls of a relaunch, replaceable so that every outcome can be
// produced without an elevation prompt and from any folder.
struct ElevatedLaunchCalls {
  // Where the running executable lies (GatherInstallationFacts).
  std::function<InstallationFacts()> gather_installation_facts;
  // Starts the process as ShellExecuteExW does, with its last-error contract.
  std::function<bool(SHELLEXECUTEINFOW* info)> shell_execute;

  // The real ones: GatherInstallationFacts and ShellExecuteExW.
  static ElevatedLaunchCalls System();
};

// Builds the single argument that carries the launch file's path.
std::wstring PendingTunLaunchParameters(const std::wstring& file_path);

// When this program is installed where standard users cannot change it,
// writes the payload to a new launch file and starts the executable's checked
// final path with the verb "runas" and the file's path; on success posts
// WM_CLOSE to `window` and returns true, the file then belonging to the new
// instance. Any other copy writes nothing, starts nothing and fails with
// kTunNeedsInstallationMessage. On failure deletes the file it wrote and
// returns false, with `error_message` (UTF-8: the system's text for the
// error, or a text of the launch file's) and `cancelled` (the user declined
// the prompt) set when given. The message stays empty when the system gave no
// error code.
bool RelaunchElevatedWithPayload(HWND window, const std::string& payload,
                                 std::string* error_message, bool* cancelled,
                                 const ElevatedLaunchCalls& calls = ElevatedLaunchCalls::System());

#endif  // TALVOR_RUNNER_ELEVATION_TUN_RELAUNCH_H_
