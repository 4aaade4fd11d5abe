#include "runner/utils.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <system_error>

#include "runner/win32_handles.h"

std::vector<std::string> ReadCommandLineArguments() {
  int count = 0;
  talvor::UniqueLocalMemory storage(CommandLineToArgvW(GetCommandLineW(), &count));
  wchar_t** arguments = static_cast<wchar_t**>(storage.get());
  std::vector<std::string> result;
  if (arguments == nullptr) return result;
  for (int index = 1; index < count; ++index) {
    result.push_back(NarrowUtf8Strict(arguments[index]));
  }
  return result;
}

std::string NarrowUtf8Strict(const wchar_t* text) {
  if (text == nullptr) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, nullptr, 0,
                                       nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string result(static_cast<size_t>(size - 1), '\0');
  const int written =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(std::wcslen(text)),
                          result.data(), size - 1, nullptr, nullptr);
  if (written == 0) return std::string();
  return result;
}

std::string NarrowUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string result(static_cast<size_t>(size), '\0');
  const int written =
      WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
  if (written <= 0) return std::string();
  result.resize(static_cast<size_t>(written - 1));
  return result;
}

std::wstring WidenUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring result(static_cast<size_t>(size), L'\0');
  const int written = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), size);
  if (written <= 0) return std::wstring();
  result.resize(static_cast<size_t>(written - 1));
  return result;
}

std::wstring ModuleFilePath(HMODULE module) {
  return ReadWithGrowingBuffer([module](wchar_t* buffer, DWORD size) {
    return GetModuleFileNameW(module, buffer, size);
  });
}

std::wstring ReadWithGrowingBuffer(const std::function<DWORD(wchar_t*, DWORD)>& query) {
  // Paths may exceed MAX_PATH; the system caps them at 32767 characters.
  constexpr DWORD kLimit = 32768;
  std::wstring buffer;
  for (DWORD size = MAX_PATH;; size = std::min(size * 2, kLimit)) {
    buffer.assign(size, L'\0');
    const DWORD length = query(buffer.data(), size);
    if (length == 0) return std::wstring();
    if (length < size) {
      buffer.resize(length);
      return buffer;
    }
    if (size == kLimit) return std::wstring();
  }
}

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

std::wstring ParentDirectory(const std::wstring& path) {
  const size_t root = std::filesystem::path(path).root_path().native().size();
  size_t end = path.size();
  while (end > root && !IsSeparator(path[end - 1])) --end;
  while (end > root && IsSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}

std::wstring ExecutableDirectory() { return ExecutableDirectoryOf(ModuleFilePath()); }

std::wstring ExecutableDirectoryOf(const std::wstring& module_path) {
  return module_path.empty() ? std::wstring() : ParentDirectory(module_path);
}
