#include "runner/log/log_files.h"

#include <utility>

#include "runner/local_paths.h"
#include "runner/process_user.h"
#include "runner/user_mutex.h"

namespace talvor::log {

namespace {

constexpr std::chrono::milliseconds kLockWait{2000};

// Asked for the attributes and the names alone: the whole of
// GetFileInformationByHandle asks after the volume too, which costs
// milliseconds a folder where the system asks another process for it.
HandleFacts FactsOf(HANDLE handle) {
  HandleFacts facts;
  FILE_BASIC_INFO basic = {};
  FILE_STANDARD_INFO standard = {};
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)) ||
      !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard))) {
    return facts;
  }
  facts.file_type = GetFileType(handle);
  facts.attributes = basic.FileAttributes;
  facts.link_count = standard.NumberOfLinks;
  facts.final_path = FinalPathOf(handle);
  return facts;
}

// Held without sharing deletion, so that nobody renames or replaces the
// folder while the next one is opened through it.
UniqueFileHandle OpenFolder(const std::wstring& path) {
  UniqueFileHandle folder(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (folder && FolderRefusal(FactsOf(folder.get()), path) != nullptr) return UniqueFileHandle();
  return folder;
}

// Never truncated on opening: a file is emptied only once it has passed its
// checks and its turn has come.
UniqueFileHandle OpenLogFile(const std::wstring& path) {
  UniqueFileHandle file(CreateFileW(path.c_str(),
                                    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
  if (file && FileRefusal(FactsOf(file.get()), path) != nullptr) return UniqueFileHandle();
  return file;
}

// Every folder from the drive's root to `base`\`below`..., each opened through
// the one before it is held; the folders below `base` are made where missing.
// Empty when one fails.
std::vector<UniqueFileHandle> OpenFolderChain(const std::wstring& base,
                                              const std::vector<std::wstring>& below,
                                              std::wstring* folder_path) {
  std::vector<UniqueFileHandle> chain;
  if (!IsDriveLetterPath(base)) return {};
  std::wstring path = base.substr(0, 3);
  chain.push_back(OpenFolder(path));
  if (!chain.back()) return {};
  auto step = [&](const std::wstring& name, bool make) {
    if (name.empty()) return true;
    if (path.back() != L'\\') path += L'\\';
    path += name;
    if (make) CreateDirectoryW(path.c_str(), nullptr);
    chain.push_back(OpenFolder(path));
    return static_cast<bool>(chain.back());
  };
  size_t start = 3;
  while (start <= base.size()) {
    size_t end = base.find(L'\\', start);
    if (end == std::wstring::npos) end = base.size();
    if (!step(base.substr(start, end - start), false)) return {};
    start = end + 1;
  }
  for (const std::wstring& name : below) {
    if (!step(name, true)) return {};
  }
  *folder_path = path;
  return chain;
}

bool SizeOf(HANDLE file, std::uint64_t* size) {
  LARGE_INTEGER value = {};
  if (!GetFileSizeEx(file, &value)) return false;
  *size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

bool TruncateTo(HANDLE file, std::uint64_t size) {
  LARGE_INTEGER position = {};
  position.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

bool WriteAt(HANDLE file, std::uint64_t offset, std::string_view bytes) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &at) &&
         written == bytes.size();
}

}  // namespace

const char* FolderRefusal(const HandleFacts& facts, const std::wstring& expected_path) {
  if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return "not a folder";
  if ((facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return "a reparse point";
  if (facts.final_path.empty() || !SamePath(facts.final_path, expected_path)) {
    return "reached through a link";
  }
  return nullptr;
}

const char* FileRefusal(const HandleFacts& facts, const std::wstring& expected_path) {
  constexpr DWORD kNotRegular = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
  if (facts.file_type != FILE_TYPE_DISK || (facts.attributes & kNotRegular) != 0) {
    return "not a regular file";
  }
  if ((facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return "a reparse point";
  if (facts.link_count != 1) return "a file with more than one name";
  if (facts.final_path.empty() || !SamePath(facts.final_path, expected_path)) {
    return "reached through a link";
  }
  return nullptr;
}

Turn NextTurn(const std::array<std::uint64_t, 2>& sizes) {
  const bool first_open = sizes[0] < kLogFileFull;
  const bool second_open = sizes[1] < kLogFileFull;
  if (!first_open && !second_open) return Turn{0, true};
  if (first_open && second_open) return Turn{sizes[1] > sizes[0] ? 1u : 0u, false};
  return Turn{first_open ? 0u : 1u, false};
}

CrossProcessLock::CrossProcessLock(const std::wstring& name)
    : mutex_(name.empty() ? UniqueKernelHandle() : CreateUserMutex(name, false).handle) {}

bool CrossProcessLock::Take(std::chrono::milliseconds timeout) {
  if (!mutex_) return false;
  // An abandoned lock was left by a writer that ended mid-line; the line is
  // whole or gone, see Append.
  const DWORD result = WaitForSingleObject(mutex_.get(), static_cast<DWORD>(timeout.count()));
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void CrossProcessLock::Give() { ReleaseMutex(mutex_.get()); }

LogFiles::LogFiles(CrossProcessLock lock, UniqueFileHandle first, UniqueFileHandle second)
    : lock_(std::move(lock)), files_{std::move(first), std::move(second)} {}

std::optional<LogFiles> LogFiles::Open(const std::wstring& base, const std::vector<std::wstring>& below,
                                       const std::wstring& lock_name) {
  CrossProcessLock lock(lock_name);
  if (!lock.Take(kLockWait)) return std::nullopt;
  std::wstring folder;
  const std::vector<UniqueFileHandle> chain = OpenFolderChain(base, below, &folder);
  UniqueFileHandle first;
  UniqueFileHandle second;
  if (!chain.empty()) {
    first = OpenLogFile(folder + L"\\" + kLogFileNames[0]);
    second = OpenLogFile(folder + L"\\" + kLogFileNames[1]);
  }
  lock.Give();
  if (!first || !second) return std::nullopt;
  return LogFiles(std::move(lock), std::move(first), std::move(second));
}

bool LogFiles::Append(std::string_view line) {
  if (line.size() > kMaxLineBytes || !lock_.Take(kLockWait)) return false;
  std::array<std::uint64_t, 2> sizes = {};
  bool written = SizeOf(files_[0].get(), &sizes[0]) && SizeOf(files_[1].get(), &sizes[1]);
  if (written) {
    const Turn turn = NextTurn(sizes);
    HANDLE file = files_[turn.file].get();
    std::uint64_t start = sizes[turn.file];
    if (turn.empty_first) {
      written = TruncateTo(file, 0);
      start = 0;
    }
    written = written && WriteAt(file, start, line);
    if (!written) {
      // A line cut short (the disk full) would run into the next writer's.
      TruncateTo(file, start);
    } else if (start + line.size() >= kLogFileFull) {
      // The other file's turn comes with the next line: emptied now, so that
      // the next writer finds which file is current from the sizes alone.
      written = TruncateTo(files_[1 - turn.file].get(), 0);
    }
  }
  lock_.Give();
  return written;
}

std::wstring LogLockName() {
  const std::wstring user_sid = CurrentUserSidText();
  return user_sid.empty() ? std::wstring() : L"Local\\TalvorVPN.Log." + user_sid;
}

}  // namespace talvor::log
