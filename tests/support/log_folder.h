// The program's log as a test sees it from outside: the user's local
// application data folder pointed at a scratch folder for a while, and the
// lines of the two log files read back.
#ifndef TALVOR_TESTS_SUPPORT_LOG_FOLDER_H_
#define TALVOR_TESTS_SUPPORT_LOG_FOLDER_H_

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/system_state.h"

namespace talvor::test {

// Points the known folder %LOCALAPPDATA% of this user (the per-user value
// "Local AppData" under User Shell Folders, which every process of the
// prefix reads) at a fresh scratch folder, and back afterwards.
class ScopedLocalAppData {
 public:
  ScopedLocalAppData();
  ScopedLocalAppData(const ScopedLocalAppData&) = delete;
  ScopedLocalAppData& operator=(const ScopedLocalAppData&) = delete;

  // Empty when it could not be pointed there.
  const std::wstring& path() const { return path_; }
  // Where the program keeps its log below it.
  std::wstring LogFolder() const { return path_ + L"\\Talvor VPN\\logs"; }

 private:
  ScratchDirectory folder_{L"local app data"};
  RegistryValueGuard value_;
  std::wstring path_;
};

// The lines of talvor-1.log and talvor-2.log in `folder`, in that order,
// split at "\r\n"; a last line without its end is kept as it is.
std::vector<std::string> ReadLogLines(const std::wstring& folder);

// Those of `lines` that process `process_id` wrote.
std::vector<std::string> LogLinesOf(const std::vector<std::string>& lines, DWORD process_id);

// Every file's bytes below `folder`, for searching the whole folder.
std::string AllBytesBelow(const std::wstring& folder);

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_LOG_FOLDER_H_
