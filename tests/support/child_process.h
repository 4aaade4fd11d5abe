// Processes that a test starts and ends, by their own handle.
#ifndef TALVOR_TESTS_SUPPORT_CHILD_PROCESS_H_
#define TALVOR_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "runner/win32_handles.h"
#include "tests/support/wait.h"

namespace talvor::test {

class ChildProcess {
 public:
  // Starts `executable` with `arguments`, each quoted so that the child sees
  // it unchanged, in `working_directory` (empty: this process's). The child
  // inherits this process's environment. Empty when it cannot start.
  static std::optional<ChildProcess> Start(const std::wstring& executable, const std::vector<std::wstring>& arguments,
                                           const std::wstring& working_directory = {});

  ChildProcess(ChildProcess&&) = default;
  ChildProcess& operator=(ChildProcess&&) = default;
  // Ends the process if it still runs.
  ~ChildProcess();

  DWORD id() const { return id_; }
  HANDLE handle() const { return process_.get(); }

  // The exit code once the process has ended; empty on timeout.
  std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout = kDefaultWait);
  bool Running() const;
  void Terminate();

 private:
  ChildProcess(HANDLE process, DWORD id) : process_(process), id_(id) {}

  UniqueKernelHandle process_;
  DWORD id_ = 0;
};

// Ends a process that this test caused to start indirectly (for example the
// program's own relaunch), by its id. True when it has ended.
bool EndProcessById(DWORD process_id, std::chrono::milliseconds timeout = kDefaultWait);

// One argument quoted for CreateProcessW so that CommandLineToArgvW gives it
// back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);

// The directory of this test program.
std::wstring TestExecutableDirectory();

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_CHILD_PROCESS_H_
