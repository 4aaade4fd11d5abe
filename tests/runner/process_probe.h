// Test helpers around the probe program (runner_probe.exe): start it with a
// crafted command line and read what it saw.
#ifndef TALVOR_TESTS_RUNNER_PROCESS_PROBE_H_
#define TALVOR_TESTS_RUNNER_PROCESS_PROBE_H_

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace talvor::test {

struct ProbeReport {
  DWORD process_id = 0;
  std::string executable_directory;  // UTF-8
  std::vector<std::string> arguments;
};

// The probe program built beside the tests, as a full Windows path.
std::wstring ProbeProgramPath();

// The report file a probe writes when TALVOR_PROBE_OUTPUT names it; the
// variable is set in this process so that every probe started from here,
// directly or through the shell, inherits it.
void DirectProbeReportsTo(const std::wstring& report_path);

// Reads a finished report; nothing while it does not exist or is malformed.
std::optional<ProbeReport> ReadProbeReport(const std::wstring& report_path);

// Starts `program` with exactly `command_line`, waits (bounded) for it to end
// and returns its report. A probe that does not end in time is terminated.
std::optional<ProbeReport> RunProbe(const std::wstring& program, const std::wstring& command_line,
                                    const std::wstring& report_path,
                                    const std::wstring& working_directory = std::wstring());

}  // namespace talvor::test

#endif  // TALVOR_TESTS_RUNNER_PROCESS_PROBE_H_
