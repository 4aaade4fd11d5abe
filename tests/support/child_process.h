// Processes that a test starts and ends, by their own handle.
#ifndef TALVOR_TESTS_SUPPORT_CHILD_PROCESS_H_
#define TALVOR_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <windows.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runner/win32_handles.h"
#include "tests/support/wait.h"

namespace talvor::test {

class ChildProcess {
 public:
  struct StartOptions {
    // Empty: this process's.
    std::wstring working_directory;
    // Collects what the child writes to its standard error (StandardError()).
    bool capture_stderr = false;
    // When set, the child belongs to this job object before it runs any of
    // its code, and so does every process it starts.
    HANDLE job = nullptr;
    // When set, the child runs with this primary token instead of a copy of
    // this process's (CreateProcessAsUserW).
    HANDLE token = nullptr;
  };

  // Starts `executable` with `arguments`, each quoted so that the child sees
  // it unchanged, in `working_directory` (empty: this process's). The child
  // inherits this process's environment. Empty when it cannot start.
  static std::optional<ChildProcess> Start(const std::wstring& executable, const std::vector<std::wstring>& arguments,
                                           const std::wstring& working_directory = {});
  static std::optional<ChildProcess> Start(const std::wstring& executable, const std::vector<std::wstring>& arguments,
                                           const StartOptions& options);

  // Takes charge of a process that this test caused to start indirectly (for
  // example the program's own relaunch): it is then waited for and ended like
  // a started one. Empty when it cannot be opened (it has ended already).
  static std::optional<ChildProcess> Adopt(DWORD process_id);

  ChildProcess(ChildProcess&&) noexcept;
  ChildProcess& operator=(ChildProcess&&) noexcept;
  // Ends the process if it still runs.
  ~ChildProcess();

  DWORD id() const { return id_; }
  HANDLE handle() const { return process_.get(); }

  // The exit code once the process has ended; empty on timeout.
  std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout = kDefaultWait);
  bool Running() const;
  void Terminate();

  // What the child has written to its standard error so far, when started
  // with capture_stderr; complete once the child has ended.
  std::string StandardError() const;
  // The same split into lines, line ends ("\n" or "\r\n") removed.
  std::vector<std::string> StandardErrorLines() const;

 private:
  class StderrReader;

  ChildProcess(HANDLE process, DWORD id);

  UniqueKernelHandle process_;
  DWORD id_ = 0;
  std::unique_ptr<StderrReader> stderr_;
};

// A primary token of this process's user without administrator rights, for
// StartOptions::token: the limited token linked to this process's (Wine
// gives every process an elevated token, with such a linked one). Empty when
// the system gives none.
UniqueKernelHandle LimitedToken();

// Ends a process that this test caused to start indirectly (for example the
// program's own relaunch), by its id: waits up to `grace` for it to end by
// itself, then terminates it. True once it has ended (or was gone already).
bool EndProcessById(DWORD process_id, std::chrono::milliseconds grace = kDefaultWait);

// A process of the system as the process list shows it.
struct ProcessEntry {
  DWORD id = 0;
  DWORD parent_id = 0;
  std::wstring executable;  // file name only, e.g. L"talvor_app.exe"
};

// Every process running now whose executable file name is `executable`
// (compared without regard to case).
std::vector<ProcessEntry> ProcessesNamed(const std::wstring& executable);

// One argument quoted for CreateProcessW so that CommandLineToArgvW gives it
// back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);

// The directory of this test program.
std::wstring TestExecutableDirectory();

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_CHILD_PROCESS_H_
