// The shared test helpers, against literal values and the clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "tests/support/method_result_recorder.h"
#include "tests/support/stderr_capture.h"
#include "tests/support/text.h"
#include "tests/support/wait.h"

#ifdef _WIN32
#include <windows.h>

#include <filesystem>

#include "runner/win32_handles.h"
#include "tests/support/child_process.h"
#include "tests/support/system_state.h"
#endif

namespace talvor::test {
namespace {

using flutter::EncodableValue;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(StderrCapture, SeesStreamAndStdioTextInOrderAndSplitsItIntoLines) {
  StderrCapture capture;
  std::cerr << "first line" << std::endl;
  std::fputs("second line\r\n\nlast, unended", stderr);
  EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"first line", "second line", "", "last, unended"}));
  EXPECT_EQ(capture.Finish(), "first line\nsecond line\r\n\nlast, unended") << "a second Finish changed the text";
}

TEST(WaitUntil, WaitsForTheConditionButNoLongerThanTheTimeout) {
  const auto start = steady_clock::now();
  EXPECT_FALSE(WaitUntil([] { return false; }, milliseconds(50)));
  EXPECT_GE(steady_clock::now() - start, milliseconds(50));

  int polls = 0;
  EXPECT_TRUE(WaitUntil([&] { return ++polls == 3; }, std::chrono::seconds(10)));
  EXPECT_EQ(polls, 3) << "asked again after the condition held";
}

TEST(Utf8, ConvertsUtf16TextByteForByte) {
  EXPECT_EQ(Utf8(u""), "");
  EXPECT_EQ(Utf8(u"talvor://x"), "talvor://x");
  EXPECT_EQ(Utf8(u"\u00E9\u2014"), "\xC3\xA9\xE2\x80\x94");
  EXPECT_EQ(Utf8(u"Сервер \U0001F600"), "\xD0\xA1\xD0\xB5\xD1\x80\xD0\xB2\xD0\xB5\xD1\x80 \xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
  const char16_t unpaired[] = {u'a', 0xD83D, u'b', 0xDE00, 0};
  EXPECT_EQ(Utf8(unpaired), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
#ifdef _WIN32
  EXPECT_EQ(Utf8(L"Выход"), "\xD0\x92\xD1\x8B\xD1\x85\xD0\xBE\xD0\xB4");
#endif
}

TEST(MethodResultRecorder, KeepsTheLastAnswerAndLogsEachDescribed) {
  std::vector<std::string> log;
  MethodResultRecorder recorder(&log);
  EXPECT_EQ(recorder.outcome, MethodResultRecorder::Outcome::kNone);

  recorder.Success(nullptr);
  EXPECT_EQ(recorder.outcome, MethodResultRecorder::Outcome::kSuccess);
  EXPECT_FALSE(recorder.value.has_value()) << "no value is not a null value";
  const EncodableValue seven(int32_t{7});
  recorder.Success(&seven);
  EXPECT_EQ(recorder.value, seven);
  const EncodableValue details(std::string("why"));
  recorder.Error("invalid_arguments", "Нет данных", &details);
  EXPECT_EQ(recorder.code, "invalid_arguments");
  EXPECT_EQ(recorder.message, "Нет данных");
  EXPECT_EQ(recorder.value, details);
  recorder.NotImplemented();
  EXPECT_EQ(recorder.outcome, MethodResultRecorder::Outcome::kNotImplemented);
  EXPECT_EQ(recorder.calls, 4);

  const EncodableValue flag(true);
  const EncodableValue real(2.5);
  MethodResultRecorder unlogged;
  unlogged.Success(&flag);
  EXPECT_EQ(unlogged.description, "success true");
  unlogged.Error("E", "", &real);
  EXPECT_EQ(unlogged.description, "error E '' value of type 4");
  EXPECT_EQ(log, (std::vector<std::string>{"success null", "success 7",
                                           "error invalid_arguments 'Нет данных' 'why'", "not implemented"}));
}

#ifdef _WIN32
// The engine stand-in does its work in window messages of the waiting thread.
TEST(WaitUntil, DispatchesTheWaitingThreadsWindowMessages) {
  static bool delivered = false;
  delivered = false;
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = [](HWND window, UINT message, WPARAM wparam, LPARAM lparam) -> LRESULT {
    if (message == WM_APP) delivered = true;
    return DefWindowProcW(window, message, wparam, lparam);
  };
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"TalvorSupportTestWindow";
  RegisterClassW(&window_class);
  UniqueWindow window(CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(window);
  PostMessageW(window.get(), WM_APP, 0, 0);
  EXPECT_TRUE(WaitUntil([] { return delivered; }, std::chrono::seconds(10)));
}

TEST(ScratchDirectory, IsAFreshFolderInTheTemporaryDirectoryRemovedWithItsContents) {
  std::wstring kept;
  {
    ScratchDirectory first(L"с пробелом");
    const ScratchDirectory second(L"с пробелом");
    ASSERT_FALSE(first.path().empty());
    EXPECT_NE(first.path(), second.path());
    EXPECT_EQ(std::filesystem::path(first.path()).parent_path() / L"", TemporaryDirectory());
    EXPECT_NE(first.path().find(L"с пробелом"), std::wstring::npos);
    ASSERT_TRUE(WriteFileBytes(first.File(L"inside.bin"), std::string("\0\x01\xFF", 3)));
    EXPECT_EQ(ReadFileBytes(first.File(L"inside.bin")), std::string("\0\x01\xFF", 3));

    ScratchDirectory moved(std::move(first));
    EXPECT_TRUE(first.path().empty());
    kept = moved.path();
    EXPECT_TRUE(FileExists(moved.File(L"inside.bin")));
  }
  EXPECT_FALSE(FileExists(kept));
  EXPECT_FALSE(ReadFileBytes(kept + L"\\inside.bin"));
}

TEST(RegistryValueGuard, PutsBackWhatWasThereOrNothing) {
  const std::wstring key = L"Software\\TalvorSupportTest" + std::to_wstring(GetCurrentProcessId());
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"kept", REG_SZ, L"before", 14), ERROR_SUCCESS);
  {
    const RegistryValueGuard kept(HKEY_CURRENT_USER, key, L"kept");
    const RegistryValueGuard added(HKEY_CURRENT_USER, key, L"added");
    ASSERT_TRUE(kept.SetDword(144));
    ASSERT_TRUE(added.SetString(L"новое"));
    const std::optional<RegistryValue> changed = ReadRegistryValue(HKEY_CURRENT_USER, key, L"kept");
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(changed->bytes, (std::vector<uint8_t>{144, 0, 0, 0}));
    const std::optional<RegistryValue> text = ReadRegistryValue(HKEY_CURRENT_USER, key, L"added");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->bytes, (std::vector<uint8_t>{0x3D, 0x04, 0x3E, 0x04, 0x32, 0x04, 0x3E, 0x04, 0x35, 0x04, 0, 0}));
  }
  const std::optional<RegistryValue> restored = ReadRegistryValue(HKEY_CURRENT_USER, key, L"kept");
  ASSERT_TRUE(restored);
  EXPECT_EQ(restored->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(restored->bytes, RegistryStringBytes(L"before"));
  EXPECT_FALSE(ReadRegistryValue(HKEY_CURRENT_USER, key, L"added"));
  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, key));
}

TEST(ScopedEnvironmentVariable, PutsBackTheFormerValueOrNone) {
  constexpr wchar_t kName[] = L"TALVOR_SUPPORT_TEST_VARIABLE";
  ASSERT_FALSE(EnvironmentVariable(kName));
  {
    const ScopedEnvironmentVariable outer(kName, L"outer");
    {
      const ScopedEnvironmentVariable inner(kName, nullptr);
      EXPECT_FALSE(EnvironmentVariable(kName));
    }
    EXPECT_EQ(EnvironmentVariable(kName), std::wstring(L"outer"));
  }
  EXPECT_FALSE(EnvironmentVariable(kName));
}

// Run by the child process of the next test only: stays until it is ended.
TEST(SupportChild, DISABLED_StaysUntilEnded) {
  UniqueKernelHandle never(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  WaitForSingleObject(never.get(), 60000);
}

TEST(EndProcessById, EndsAProcessThatDoesNotEndByItself) {
  wchar_t program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::optional<ChildProcess> child = ChildProcess::Start(
      program, {L"--gtest_also_run_disabled_tests", L"--gtest_filter=SupportChild.DISABLED_StaysUntilEnded"});
  ASSERT_TRUE(child);
  const auto start = steady_clock::now();
  EXPECT_TRUE(EndProcessById(child->id(), milliseconds(200)));
  EXPECT_GE(steady_clock::now() - start, milliseconds(200)) << "ended before its grace was over";
  EXPECT_EQ(child->WaitForExit(milliseconds(0)), 1u);
  EXPECT_TRUE(EndProcessById(child->id(), milliseconds(0))) << "a process that has ended counts as ended";
}
#endif

}  // namespace
}  // namespace talvor::test
