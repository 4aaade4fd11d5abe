// Starts this program again with administrator rights for a TUN connection,
// handing the user interface's launch payload to the new instance.
#ifndef TALVOR_RUNNER_ELEVATION_TUN_RELAUNCH_H_
#define TALVOR_RUNNER_ELEVATION_TUN_RELAUNCH_H_

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>

// The two system calls of a relaunch, replaceable so that every outcome can
// be produced without an elevation prompt.
struct ElevatedLaunchCalls {
  // Fills the running executable's full path; false, with the thread's last
  // error set, when it cannot.
  std::function<bool(std::wstring* path)> query_executable_path;
  // Starts the process as ShellExecuteExW does, with its last-error contract.
  std::function<bool(SHELLEXECUTEINFOW* info)> shell_execute;

  // The real ones: GetModuleFileNameW (a cut path is a failure) and
  // ShellExecuteExW.
  static ElevatedLaunchCalls System();
};

// Builds the single argument that carries the launch file's path.
std::wstring PendingTunLaunchParameters(const std::wstring& file_path);

// Writes the payload to a new launch file and starts this executable with
// the verb "runas" and the file's path; on success posts WM_CLOSE to `window`
// and returns true, the file then belonging to the new instance. On failure
// deletes the file and returns false, with `error_message` (UTF-8: the
// system's text for the error, or a text of the launch file's) and
// `cancelled` (the user declined the prompt) set when given. The message
// stays empty when the system gave no error code.
bool RelaunchElevatedWithPayload(HWND window, const std::string& payload,
                                 std::string* error_message, bool* cancelled,
                                 const ElevatedLaunchCalls& calls = ElevatedLaunchCalls::System());

#endif  // TALVOR_RUNNER_ELEVATION_TUN_RELAUNCH_H_
