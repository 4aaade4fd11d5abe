#include "runner/elevation/windows_error.h"

#include <windows.h>

#include "runner/win32_handles.h"

namespace {

std::uint32_t LookUpWithSystem(std::uint32_t flags, std::uint32_t code, std::uint32_t language,
                               wchar_t** buffer) {
  return FormatMessageW(flags, nullptr, code, language, reinterpret_cast<wchar_t*>(buffer), 0,
                        nullptr);
}

}  // namespace

std::wstring FormatWindowsError(std::uint32_t code) {
  return FormatWindowsError(code, LookUpWithSystem);
}

std::wstring FormatWindowsError(std::uint32_t code, const SystemMessageLookup& lookup) {
  wchar_t* buffer = nullptr;
  const std::uint32_t length = lookup(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), &buffer);
  talvor::UniqueLocalMemory owner(buffer);
  if (length == 0 || buffer == nullptr) return L"Windows error " + std::to_wstring(code);
  std::wstring text(buffer, length);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
  return text;
}
