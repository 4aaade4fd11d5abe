// The files of the log: two of fixed names in one folder, written in turn,
// shared by every instance of the user under one cross-process lock.
//
// The folder lies in the user's profile, which an elevated instance must not
// let steer its file operations: every folder on the way and both files are
// opened and checked through handles (no reparse point, no link that leads
// elsewhere, a file with one name only), nothing is opened by name once
// checked, nothing is renamed, and a file is emptied through its handle when
// its turn comes.
#ifndef TALVOR_RUNNER_LOG_LOG_FILES_H_
#define TALVOR_RUNNER_LOG_LOG_FILES_H_

#include <windows.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runner/log/log_line.h"
#include "runner/win32_handles.h"

namespace talvor::log {

inline constexpr std::array<const wchar_t*, 2> kLogFileNames = {L"talvor-1.log", L"talvor-2.log"};
inline constexpr std::uint64_t kLogFileLimit = 1024 * 1024;
// A file stops taking lines once this full: the longest line still fits.
inline constexpr std::uint64_t kLogFileFull = kLogFileLimit - kMaxLineBytes;

// What an opened folder or file turned out to be.
struct HandleFacts {
  DWORD attributes = 0;
  DWORD file_type = FILE_TYPE_UNKNOWN;
  DWORD link_count = 0;
  // Where the handle leads as the system resolves it, without "\\?\".
  std::wstring final_path;
};

// Why an opened folder on the way to the log may not be used, or null when
// it may: not a folder, a reparse point, or reached elsewhere than
// `expected_path` says (a link followed on the way).
const char* FolderRefusal(const HandleFacts& facts, const std::wstring& expected_path);

// The same for a log file: a regular disk file with one name, where its path
// says.
const char* FileRefusal(const HandleFacts& facts, const std::wstring& expected_path);

// Which file takes the next line, given both files' sizes: the one not yet
// full, the fuller of two such; when both are full (a writer ended between
// filling one and emptying the other) the first, emptied.
struct Turn {
  size_t file = 0;
  bool empty_first = false;
};
Turn NextTurn(const std::array<std::uint64_t, 2>& sizes);

// A named mutex that instances of both integrity levels of this user can
// take, labelled as the start-up marker is.
class CrossProcessLock {
 public:
  // Empty (every Take fails) when it cannot be made or opened.
  explicit CrossProcessLock(const std::wstring& name);
  bool Take(std::chrono::milliseconds timeout);
  void Give();

 private:
  UniqueKernelHandle mutex_;
};

class LogFiles {
 public:
  // Opens both files in `base`\`below`..., making the folders below `base`
  // that are missing. Nothing when any folder or file fails its checks or
  // does not open, or the lock cannot be had.
  static std::optional<LogFiles> Open(const std::wstring& base, const std::vector<std::wstring>& below,
                                      const std::wstring& lock_name);

  // Appends one whole line (at most kMaxLineBytes) under the lock, emptying
  // the other file once this one is full. False when the line could not be
  // written whole; whatever was written of it is taken back.
  bool Append(std::string_view line);

 private:
  LogFiles(CrossProcessLock lock, UniqueFileHandle first, UniqueFileHandle second);

  CrossProcessLock lock_;
  std::array<UniqueFileHandle, 2> files_;
};

// The name of this user's log lock; empty when the user cannot be told.
std::wstring LogLockName();

}  // namespace talvor::log

#endif  // TALVOR_RUNNER_LOG_LOG_FILES_H_
