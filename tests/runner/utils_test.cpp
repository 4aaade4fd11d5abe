#include "runner/utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "runner/win32_handles.h"
#include "tests/runner/process_probe.h"
#include "tests/support/system_state.h"
#include "tests/support/text.h"

namespace {

using talvor::test::ProbeProgramPath;
using talvor::test::RunProbe;
using talvor::test::ScratchDirectory;

TEST(NarrowUtf8Strict, ConvertsWellFormedTextAndRejectsTheRest) {
  EXPECT_EQ(NarrowUtf8Strict(nullptr), "");
  EXPECT_EQ(NarrowUtf8Strict(L""), "");
  EXPECT_EQ(NarrowUtf8Strict(L"talvor://x"), "talvor://x");
  EXPECT_EQ(NarrowUtf8Strict(L"Сервер \U0001F600"),
            "\xD0\xA1\xD0\xB5\xD1\x80\xD0\xB2\xD0\xB5\xD1\x80 \xF0\x9F\x98\x80");
  const wchar_t unpaired[] = {L'a', 0xD800, L'b', 0};
  EXPECT_EQ(NarrowUtf8Strict(unpaired), "");
}

TEST(NarrowUtf8, StopsAtAnEmbeddedZeroAndConvertsIllFormedInput) {
  EXPECT_EQ(NarrowUtf8(L""), "");
  EXPECT_EQ(NarrowUtf8(std::wstring(L"ab\0cd", 5)), "ab");
  EXPECT_EQ(NarrowUtf8(L"\u00E9t\u00E9"), "\xC3\xA9t\xC3\xA9");
  const std::wstring unpaired = {L'a', static_cast<wchar_t>(0xDC00), L'b'};
  const std::string converted = NarrowUtf8(unpaired);
  EXPECT_FALSE(converted.empty());
  EXPECT_EQ(converted.front(), 'a');
  EXPECT_EQ(converted.back(), 'b');
}

TEST(WidenUtf8, StopsAtAnEmbeddedZeroAndConvertsIllFormedInput) {
  EXPECT_EQ(WidenUtf8(""), L"");
  EXPECT_EQ(WidenUtf8(std::string("ab\0cd", 5)), L"ab");
  EXPECT_EQ(WidenUtf8("\xD0\xA1\xF0\x9F\x98\x80"), L"С\U0001F600");
  EXPECT_FALSE(WidenUtf8("\xFF\xFE\xC3").empty());
  EXPECT_EQ(NarrowUtf8(WidenUtf8("Talvor VPN — Выход")), "Talvor VPN — Выход");
}

TEST(ParentDirectory, DropsTheLastComponentAndItsSeparatorsButKeepsARoot) {
  EXPECT_EQ(ParentDirectory(L"C:\\app.exe"), L"C:\\");
  EXPECT_EQ(ParentDirectory(L"C:/app.exe"), L"C:/");
  EXPECT_EQ(ParentDirectory(L"C:\\Program Files\\X\\talvor_app.exe"), L"C:\\Program Files\\X");
  EXPECT_EQ(ParentDirectory(L"C:/Apps/T/talvor_app.exe"), L"C:/Apps/T");
  EXPECT_EQ(ParentDirectory(L"C:\\Apps/T\\\\/talvor_app.exe"), L"C:\\Apps/T");
}

// Answers as GetModuleFileNameW does for a path of `length` characters.
DWORD AnswerForPathOf(size_t length, wchar_t* buffer, DWORD size) {
  if (length < size) {
    std::fill(buffer, buffer + length, L'p');
    buffer[length] = L'\0';
    return static_cast<DWORD>(length);
  }
  std::fill(buffer, buffer + size - 1, L'p');
  buffer[size - 1] = L'\0';
  return size;
}

TEST(ReadWithGrowingBuffer, ReadsPathsUpToTheSystemsLimit) {
  for (const size_t length : {1u, 259u, 260u, 16639u, 16640u, 20000u, 32767u}) {
    SCOPED_TRACE(length);
    const std::wstring path = ReadWithGrowingBuffer(
        [length](wchar_t* buffer, DWORD size) { return AnswerForPathOf(length, buffer, size); });
    EXPECT_EQ(path, std::wstring(length, L'p'));
  }
}

TEST(ReadWithGrowingBuffer, GivesNothingForAFailureOrAPathBeyondTheLimit) {
  EXPECT_EQ(ReadWithGrowingBuffer([](wchar_t*, DWORD) { return DWORD{0}; }), L"");
  DWORD largest = 0;
  EXPECT_EQ(ReadWithGrowingBuffer([&largest](wchar_t* buffer, DWORD size) {
              largest = std::max(largest, size);
              return AnswerForPathOf(40000, buffer, size);
            }),
            L"");
  EXPECT_EQ(largest, 32768u);
}

class ProbeTest : public testing::Test {
 protected:
  std::vector<std::string> ArgumentsFor(const std::wstring& tail) {
    const std::wstring command_line = L"\"" + ProbeProgramPath() + L"\"" + tail;
    const auto report = RunProbe(ProbeProgramPath(), command_line, scratch_.File(L"report.txt"));
    EXPECT_TRUE(report.has_value()) << "the probe did not report";
    return report ? report->arguments : std::vector<std::string>{"<no report>"};
  }

  ScratchDirectory scratch_{L"probe"};
};

TEST_F(ProbeTest, ArgumentsAfterTheProgramNameArriveInOrderAsUtf8) {
  EXPECT_EQ(ArgumentsFor(L""), std::vector<std::string>{});
  EXPECT_EQ(ArgumentsFor(L" a \"\" \"b c\""), (std::vector<std::string>{"a", "", "b c"}));
  EXPECT_EQ(ArgumentsFor(L" talvor://x \u041F\u0440\u0438"),
            (std::vector<std::string>{"talvor://x", "\xD0\x9F\xD1\x80\xD0\xB8"}));
}

TEST_F(ProbeTest, AnArgumentWithAnUnpairedSurrogateBecomesEmptyInItsPlace) {
  const std::wstring tail = std::wstring(L" first x") + static_cast<wchar_t>(0xD800) + L"y last";
  EXPECT_EQ(ArgumentsFor(tail), (std::vector<std::string>{"first", "", "last"}));
}

TEST_F(ProbeTest, ExecutableDirectoryIsWhereTheProgramLies) {
  const std::wstring program = scratch_.File(L"probe copy.exe");
  ASSERT_TRUE(CopyFileW(ProbeProgramPath().c_str(), program.c_str(), FALSE));
  const auto report = RunProbe(program, L"\"" + program + L"\"", scratch_.File(L"report.txt"),
                               ProbeProgramPath().substr(0, 3));
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->executable_directory, talvor::test::Utf8(scratch_.path()));
}

// The program loads its core library from this folder, perhaps with
// administrator rights: a path it cannot have is no folder at all, never the
// working directory (which anyone's shortcut chooses).
TEST(ExecutableDirectoryOf, IsTheFolderOfThePathAndNothingWithoutOne) {
  EXPECT_EQ(ExecutableDirectoryOf(L"C:\\Program Files\\Talvor VPN\\talvor_app.exe"),
            L"C:\\Program Files\\Talvor VPN");
  EXPECT_EQ(ExecutableDirectoryOf(L""), L"");
}

// A path of 260 characters or more must not make the program look for its
// libraries in whatever folder it was started from. The system starts no
// program from such a path here, but loads a library from one, and the
// executable's path is queried the same way.
TEST(ModuleFilePath, HoldsForPathsLongerThanMaxPath) {
  ScratchDirectory scratch(L"long");
  std::wstring directory = scratch.path();
  while (directory.size() < 300) directory += L"\\a long folder name for the installation";
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(directory), error);
  ASSERT_FALSE(error) << error.message();
  const std::wstring library_path = directory + L"\\talvor.dll";
  const std::wstring fixture = WidenUtf8(TALVOR_CORE_COMPLETE);
  ASSERT_TRUE(CopyFileW(fixture.c_str(), library_path.c_str(), FALSE));

  talvor::UniqueModule library(LoadLibraryW(library_path.c_str()));
  ASSERT_TRUE(library);
  const std::wstring reported = ModuleFilePath(library.get());
  EXPECT_EQ(reported, library_path);
  EXPECT_EQ(ParentDirectory(reported), directory);
}

}  // namespace
