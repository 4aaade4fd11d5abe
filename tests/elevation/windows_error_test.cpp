#include "runner/elevation/windows_error.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "runner/elevation/process_elevation.h"
#include "runner/win32_handles.h"
#include "tests/support/child_process.h"

namespace {

// What FormatWindowsError asked the system for.
struct Lookup {
  std::uint32_t flags = 0;
  std::uint32_t code = 0;
  std::uint32_t language = 0;
};

// A lookup that answers `text` (nothing when null) in a buffer of its own
// allocation, as FormatMessageW does.
SystemMessageLookup Answering(const wchar_t* text, Lookup* asked) {
  return [text, asked](std::uint32_t flags, std::uint32_t code, std::uint32_t language,
                       wchar_t** buffer) -> std::uint32_t {
    *asked = Lookup{flags, code, language};
    if (text == nullptr) return 0;
    const size_t length = std::wcslen(text);
    *buffer = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, (length + 1) * sizeof(wchar_t)));
    std::memcpy(*buffer, text, (length + 1) * sizeof(wchar_t));
    return static_cast<std::uint32_t>(length);
  };
}

TEST(FormatWindowsError, AsksTheSystemForItsOwnTextInTheUsersLanguage) {
  Lookup asked;
  FormatWindowsError(1223, Answering(L"x", &asked));
  // Allocate the buffer, from the system's table, without inserts.
  EXPECT_EQ(asked.flags, 0x1300u);
  EXPECT_EQ(asked.code, 1223u);
  // Neutral language, default sublanguage: the user's.
  EXPECT_EQ(asked.language, 0x0400u);
}

TEST(FormatWindowsError, DropsOnlyTrailingLineEndsAndBlanks) {
  Lookup asked;
  EXPECT_EQ(FormatWindowsError(5, Answering(L"Access is denied.\r\n", &asked)),
            L"Access is denied.");
  EXPECT_EQ(FormatWindowsError(5, Answering(L"Two\r\nlines. \r\n \n", &asked)),
            L"Two\r\nlines.");
  EXPECT_EQ(FormatWindowsError(5, Answering(L" Leading blank stays\t", &asked)),
            L" Leading blank stays\t");
  EXPECT_EQ(FormatWindowsError(5, Answering(L"\r\n", &asked)), L"");
}

TEST(FormatWindowsError, NamesACodeTheSystemCannotDescribe) {
  Lookup asked;
  EXPECT_EQ(FormatWindowsError(536890666, Answering(nullptr, &asked)), L"Windows error 536890666");
  EXPECT_EQ(FormatWindowsError(4294967295u, Answering(nullptr, &asked)),
            L"Windows error 4294967295");
  EXPECT_EQ(FormatWindowsError(0, Answering(nullptr, &asked)), L"Windows error 0");
}

// The real system: Wine's text for a declined prompt is
// "Operation canceled by user." followed by a line end.
TEST(FormatWindowsError, GivesWhatThisSystemSays) {
  EXPECT_EQ(FormatWindowsError(ERROR_CANCELLED), L"Operation canceled by user.");
  EXPECT_EQ(FormatWindowsError(0x20004D2Au), L"Windows error 536890666");
}

// Wine reports every process as elevated.
TEST(IsProcessElevated, IsWhatThisSystemSays) { EXPECT_TRUE(IsProcessElevated()); }

// Wine reports every process elevated; the token linked to its token is the
// same user's limited one, which says it is not. A token that cannot be
// asked counts as not elevated.
TEST(IsTokenElevated, IsWhatTheTokensElevationSaysAndFalseWhenItCannotBeAsked) {
  talvor::UniqueKernelHandle queryable;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, queryable.put()));
  const talvor::UniqueKernelHandle limited = talvor::test::LimitedToken();
  ASSERT_TRUE(limited);
  talvor::UniqueKernelHandle unqueryable;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE, unqueryable.put()));
  const struct {
    const char* what;
    HANDLE token;
    bool elevated;
  } cases[] = {
      {"this process's token", queryable.get(), true},
      {"its limited linked token", limited.get(), false},
      {"a token opened without the right to query it", unqueryable.get(), false},
      {"no token", nullptr, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsTokenElevated(c.token), c.elevated) << c.what;
}

}  // namespace
