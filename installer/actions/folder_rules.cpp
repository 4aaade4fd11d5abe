#include "installer/actions/folder_rules.h"

#include <windows.h>

#include <vector>

namespace talvor::installer {

namespace {

// The full form of a path with "." and ".." resolved, backslashes only and no
// trailing separator; empty when the system cannot form it.
std::wstring FullPath(const std::wstring& path) {
  if (path.empty()) return {};
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return {};
  std::vector<wchar_t> buffer(size);
  const DWORD length = GetFullPathNameW(path.c_str(), size, buffer.data(), nullptr);
  if (length == 0 || length >= size) return {};
  std::wstring full(buffer.data(), length);
  while (!full.empty() && full.back() == L'\\') full.pop_back();
  return full;
}

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

}  // namespace

bool IsInFolder(const std::wstring& path, const std::wstring& folder) {
  const std::wstring full_path = FullPath(path);
  const std::wstring full_folder = FullPath(folder);
  if (full_path.empty() || full_folder.empty()) return false;
  if (full_path.size() <= full_folder.size() + 1 || full_path[full_folder.size()] != L'\\') return false;
  return EqualIgnoringCase(full_path.substr(0, full_folder.size()), full_folder);
}

std::wstring ExecutableOfOpenCommand(const std::wstring& command) {
  const size_t start = command.find_first_not_of(L" \t");
  if (start == std::wstring::npos) return {};
  if (command[start] == L'"') {
    const size_t end = command.find(L'"', start + 1);
    if (end == std::wstring::npos) return {};
    return command.substr(start + 1, end - start - 1);
  }
  const size_t end = command.find_first_of(L" \t", start);
  return command.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

}  // namespace talvor::installer
