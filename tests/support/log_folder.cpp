#include "tests/support/log_folder.h"

#include <filesystem>
#include <system_error>

namespace talvor::test {

namespace fs = std::filesystem;

ScopedLocalAppData::ScopedLocalAppData()
    : value_(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
             L"Local AppData") {
  if (!folder_.path().empty() && value_.SetString(folder_.path())) path_ = folder_.path();
}

std::vector<std::string> ReadLogLines(const std::wstring& folder) {
  std::vector<std::string> lines;
  for (const wchar_t* name : {L"talvor-1.log", L"talvor-2.log"}) {
    const std::string bytes = ReadFileBytes(fs::path(folder) / name).value_or("");
    size_t start = 0;
    while (start < bytes.size()) {
      size_t end = bytes.find("\r\n", start);
      if (end == std::string::npos) {
        lines.push_back(bytes.substr(start));
        break;
      }
      lines.push_back(bytes.substr(start, end - start));
      start = end + 2;
    }
  }
  return lines;
}

std::vector<std::string> LogLinesOf(const std::vector<std::string>& lines, DWORD process_id) {
  const std::string mark = "Z [" + std::to_string(process_id) + "] ";
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.find(mark) != std::string::npos) found.push_back(line);
  }
  return found;
}

std::string AllBytesBelow(const std::wstring& folder) {
  std::string all;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder, error)) {
    if (entry.is_regular_file(error)) all += ReadFileBytes(entry.path()).value_or("");
  }
  return all;
}

}  // namespace talvor::test
