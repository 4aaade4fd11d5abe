#include "tests/support/child_process.h"

namespace talvor::test {

std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t character : argument) {
    if (character == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    quoted.append(character == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(character);
  }
  quoted.append(backslashes * 2, L'\\');  // before the closing quote
  quoted.push_back(L'"');
  return quoted;
}

std::optional<ChildProcess> ChildProcess::Start(const std::wstring& executable,
                                                const std::vector<std::wstring>& arguments,
                                                const std::wstring& working_directory) {
  std::wstring command_line = QuoteArgument(executable);
  for (const std::wstring& argument : arguments) command_line += L" " + QuoteArgument(argument);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION information{};
  if (!CreateProcessW(executable.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      working_directory.empty() ? nullptr : working_directory.c_str(), &startup, &information)) {
    return std::nullopt;
  }
  CloseHandle(information.hThread);
  return ChildProcess(information.hProcess, information.dwProcessId);
}

ChildProcess::~ChildProcess() {
  if (process_ && Running()) Terminate();
}

bool ChildProcess::Running() const {
  return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (!process_) return std::nullopt;
  if (!WaitUntil([this] { return !Running(); }, timeout)) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(process_.get(), &code);
  return code;
}

void ChildProcess::Terminate() {
  if (!process_) return;
  TerminateProcess(process_.get(), 1);
  WaitForSingleObject(process_.get(), 10000);
}

bool EndProcessById(DWORD process_id, std::chrono::milliseconds timeout) {
  UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process_id));
  if (!process) return true;  // gone already
  TerminateProcess(process.get(), 1);
  return WaitForSingleObject(process.get(), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

std::wstring TestExecutableDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

}  // namespace talvor::test
