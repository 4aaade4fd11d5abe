// Ending the program's running processes before its files are replaced or
// removed, as the tray's exit ends them.
#ifndef TALVOR_INSTALLER_ACTIONS_RUNNING_PROGRAM_H_
#define TALVOR_INSTALLER_ACTIONS_RUNNING_PROGRAM_H_

#include <chrono>
#include <functional>
#include <string>

namespace talvor::installer {

using Log = std::function<void(const std::wstring& line)>;

// How long a process asked to close may take before it is ended forcibly.
inline constexpr std::chrono::milliseconds kCloseGrace{15000};
// The exit code of a process ended forcibly.
inline constexpr unsigned int kForcedExitCode = 1;

// Every process of this session whose executable lies in `folder` gets
// WM_CLOSE on its main window (class "FLUTTER_RUNNER_WIN32_WINDOW", title
// "Talvor VPN"), as the tray's exit sends it; processes that start meanwhile
// (a relaunch) are asked too. Returns once none is left, or after `grace`,
// when those still running are ended forcibly. Processes of other sessions
// are left alone: there the program ends on the Restart Manager's request.
// Says what it did through `log`.
void CloseProgramsIn(const std::wstring& folder, std::chrono::milliseconds grace, const Log& log);

}  // namespace talvor::installer

#endif  // TALVOR_INSTALLER_ACTIONS_RUNNING_PROGRAM_H_
