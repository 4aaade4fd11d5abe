#include "tests/support/child_process.h"

#include <tlhelp32.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

namespace talvor::test {

// Reads the child's standard error through a pipe of its own, on a thread, so
// that a child writing much never blocks on a full pipe.
class ChildProcess::StderrReader {
 public:
  // The pipe's read end and, in `child_end`, an inheritable write end for the
  // child (the caller closes it once the child has started). Null on failure.
  static std::unique_ptr<StderrReader> Create(UniqueKernelHandle* child_end) {
    static std::atomic<unsigned> counter{0};
    const std::wstring name = L"\\\\.\\pipe\\talvor-stderr-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++counter) + L"-" + std::to_wstring(GetTickCount64());
    HANDLE pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, 64 * 1024, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return nullptr;
    UniqueKernelHandle server(pipe);
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE client = CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING, 0, nullptr);
    if (client == INVALID_HANDLE_VALUE) return nullptr;
    child_end->reset(client);
    return std::unique_ptr<StderrReader>(new StderrReader(std::move(server)));
  }

  ~StderrReader() {
    SetEvent(stop_.get());
    if (reader_.joinable()) reader_.join();
  }

  std::string Text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }

  // Waits until every writer has closed its end.
  bool WaitForEnd(std::chrono::milliseconds timeout) {
    return WaitUntil([this] { return ended_.load(); }, timeout);
  }

 private:
  explicit StderrReader(UniqueKernelHandle pipe)
      : pipe_(std::move(pipe)),
        read_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    reader_ = std::thread([this] { ReadAll(); });
  }

  void ReadAll() {
    char buffer[4096];
    while (true) {
      OVERLAPPED overlapped{};
      overlapped.hEvent = read_event_.get();
      DWORD count = 0;
      if (!ReadFile(pipe_.get(), buffer, sizeof buffer, &count, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) break;  // broken pipe: every writer is gone
        const HANDLE waits[2] = {read_event_.get(), stop_.get()};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
          CancelIoEx(pipe_.get(), &overlapped);
          GetOverlappedResult(pipe_.get(), &overlapped, &count, TRUE);
          break;
        }
        if (!GetOverlappedResult(pipe_.get(), &overlapped, &count, FALSE)) break;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      text_.append(buffer, count);
    }
    ended_ = true;
  }

  UniqueKernelHandle pipe_;
  UniqueKernelHandle read_event_;
  UniqueKernelHandle stop_;
  mutable std::mutex mutex_;
  std::string text_;
  std::atomic<bool> ended_{false};
  std::thread reader_;
};

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

ChildProcess::ChildProcess(HANDLE process, DWORD id) : process_(process), id_(id) {}

ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    if (process_ && Running()) Terminate();
    process_ = std::move(other.process_);
    id_ = std::exchange(other.id_, 0);
    stderr_ = std::move(other.stderr_);
  }
  return *this;
}

std::optional<ChildProcess> ChildProcess::Start(const std::wstring& executable,
                                                const std::vector<std::wstring>& arguments,
                                                const std::wstring& working_directory) {
  StartOptions options;
  options.working_directory = working_directory;
  return Start(executable, arguments, options);
}

std::optional<ChildProcess> ChildProcess::Start(const std::wstring& executable,
                                                const std::vector<std::wstring>& arguments,
                                                const StartOptions& options) {
  std::wstring command_line = QuoteArgument(executable);
  for (const std::wstring& argument : arguments) command_line += L" " + QuoteArgument(argument);

  UniqueKernelHandle child_stderr;
  std::unique_ptr<StderrReader> reader;
  if (options.capture_stderr) {
    reader = StderrReader::Create(&child_stderr);
    if (!reader) return std::nullopt;
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  DWORD flags = 0;
  std::vector<char> attribute_storage;
  HANDLE inherited = child_stderr.get();
  if (reader) {
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdError = inherited;
    // Only the pipe is inherited, not this process's own standard handles.
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attribute_storage.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attribute_storage.data());
    if (InitializeProcThreadAttributeList(list, 1, 0, &size) &&
        UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited, sizeof inherited,
                                  nullptr, nullptr)) {
      startup.lpAttributeList = list;
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
  }

  if (options.job != nullptr) flags |= CREATE_SUSPENDED;
  PROCESS_INFORMATION information{};
  const wchar_t* const directory = options.working_directory.empty() ? nullptr : options.working_directory.c_str();
  const BOOL started =
      options.token != nullptr
          ? CreateProcessAsUserW(options.token, executable.c_str(), command_line.data(), nullptr, nullptr,
                                 reader ? TRUE : FALSE, flags, nullptr, directory, &startup.StartupInfo, &information)
          : CreateProcessW(executable.c_str(), command_line.data(), nullptr, nullptr, reader ? TRUE : FALSE, flags,
                           nullptr, directory, &startup.StartupInfo, &information);
  if (startup.lpAttributeList != nullptr) DeleteProcThreadAttributeList(startup.lpAttributeList);
  child_stderr.reset();  // the child holds its own copy now
  if (!started) return std::nullopt;
  ChildProcess child(information.hProcess, information.dwProcessId);
  const UniqueKernelHandle thread(information.hThread);
  if (options.job != nullptr) {
    if (!AssignProcessToJobObject(options.job, information.hProcess)) return std::nullopt;  // ended by `child`
    ResumeThread(thread.get());
  }
  child.stderr_ = std::move(reader);
  return child;
}

UniqueKernelHandle LimitedToken() {
  UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenLinkedToken, &linked, sizeof(linked), &size)) return {};
  const UniqueKernelHandle limited(linked.LinkedToken);
  UniqueKernelHandle primary;
  if (!DuplicateTokenEx(limited.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                        primary.put())) {
    return {};
  }
  return primary;
}

std::optional<ChildProcess> ChildProcess::Adopt(DWORD process_id) {
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                               process_id);
  if (process == nullptr) return std::nullopt;
  return ChildProcess(process, process_id);
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

std::string ChildProcess::StandardError() const {
  if (!stderr_) return {};
  // Once the child has ended, the rest of its output is on its way.
  if (!Running()) stderr_->WaitForEnd(std::chrono::seconds(5));
  return stderr_->Text();
}

std::vector<std::string> ChildProcess::StandardErrorLines() const {
  const std::string text = StandardError();
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

bool EndProcessById(DWORD process_id, std::chrono::milliseconds grace) {
  UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process_id));
  if (!process) return true;  // gone already
  const auto ended = [&] { return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0; };
  if (WaitUntil(ended, grace)) return true;
  TerminateProcess(process.get(), 1);
  return WaitForSingleObject(process.get(), 10000) == WAIT_OBJECT_0;
}

std::vector<ProcessEntry> ProcessesNamed(const std::wstring& executable) {
  std::vector<ProcessEntry> found;
  UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (CompareStringOrdinal(entry.szExeFile, -1, executable.c_str(), -1, TRUE) != CSTR_EQUAL) continue;
    found.push_back(ProcessEntry{entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
  }
  return found;
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
