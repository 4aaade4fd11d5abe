#include "runner/elevation/windows_error.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>

#include "runner/elevation/process_elevation.h"
#include "runner/win32_handles.h"

namespace {

// The system's own text, as it comes; nothing when it has none.
std::optional<std::wstring> SystemText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer),
      0, nullptr);
  talvor::UniqueLocalMemory owner(buffer);
  if (length == 0 || buffer == nullptr) return std::nullopt;
  return std::wstring(buffer, length);
}

TEST(FormatWindowsError, IsTheSystemsTextWithoutTrailingLineEndsAndBlanks) {
  for (DWORD code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INSUFFICIENT_BUFFER,
                     ERROR_CANCELLED}) {
    const auto raw = SystemText(code);
    ASSERT_TRUE(raw.has_value()) << code;
    const std::wstring text = FormatWindowsError(code);
    ASSERT_FALSE(text.empty()) << code;
    // Only a tail of line ends and blanks is dropped.
    EXPECT_EQ(raw->compare(0, text.size(), text), 0) << code;
    EXPECT_EQ(raw->find_first_not_of(L"\r\n ", text.size()), std::wstring::npos) << code;
    EXPECT_NE(text.back(), L'\n');
    EXPECT_NE(text.back(), L'\r');
    EXPECT_NE(text.back(), L' ');
  }
}

TEST(FormatWindowsError, KeepsAFinalFullStop) {
  const auto raw = SystemText(ERROR_CANCELLED);
  ASSERT_TRUE(raw.has_value());
  const size_t last = raw->find_last_not_of(L"\r\n ");
  ASSERT_NE(last, std::wstring::npos);
  ASSERT_EQ((*raw)[last], L'.') << "the system's text for 1223 has no full stop here";
  EXPECT_EQ(FormatWindowsError(ERROR_CANCELLED).back(), L'.');
}

TEST(FormatWindowsError, NamesACodeTheSystemCannotDescribe) {
  const DWORD unknown = 0x20004D2Au;
  ASSERT_FALSE(SystemText(unknown).has_value());
  EXPECT_EQ(FormatWindowsError(unknown), L"Windows error 536890666");
  ASSERT_FALSE(SystemText(0xFFFFFFFFu).has_value());
  EXPECT_EQ(FormatWindowsError(0xFFFFFFFFu), L"Windows error 4294967295");
}

TEST(IsProcessElevated, AnswersWhatTheTokenSays) {
  talvor::UniqueKernelHandle token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
  TOKEN_ELEVATION elevation = {};
  DWORD returned = 0;
  ASSERT_TRUE(
      GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &returned));
  EXPECT_EQ(IsProcessElevated(), elevation.TokenIsElevated != 0);
}

}  // namespace
