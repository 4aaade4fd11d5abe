// The two log files: which one takes a line, the bound, and the files and
// folders refused on the way.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runner/log/log_files.h"
#include "tests/support/log_folder.h"
#include "tests/support/system_state.h"

namespace talvor::log {
namespace {

using test::ScratchDirectory;

std::wstring UniqueLockName() {
  static std::atomic<unsigned> counter{0};
  return L"Local\\TalvorLogTest." + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(++counter);
}

const std::vector<std::wstring> kBelow = {L"Talvor VPN", L"logs"};

TEST(LogTurn, TheFileNotYetFullTakesTheLine) {
  struct Case {
    std::uint64_t first;
    std::uint64_t second;
    size_t file;
    bool empty_first;
  };
  // 1 046 528 = 1 MiB less the longest line: full.
  const Case cases[] = {
      {0, 0, 0, false},              {100, 0, 0, false},         {1046527, 0, 0, false},
      {1046528, 0, 1, false},        {1046528, 5000, 1, false},  {1048576, 1046527, 1, false},
      {5000, 1046528, 0, false},     {0, 5000, 1, false},        {300, 300, 0, false},
      {1046528, 1046528, 0, true},   {1048576, 1047000, 0, true},
  };
  for (const Case& c : cases) {
    const Turn turn = NextTurn({c.first, c.second});
    EXPECT_EQ(turn.file, c.file) << c.first << " and " << c.second;
    EXPECT_EQ(turn.empty_first, c.empty_first) << c.first << " and " << c.second;
  }
}

TEST(LogRefusal, OnlyPlainFoldersAndSingleNamedFilesWhereTheirPathsSay) {
  const std::wstring path = L"C:\\users\\Ann\\AppData\\Local\\Talvor VPN\\logs";
  const HandleFacts folder{FILE_ATTRIBUTE_DIRECTORY, FILE_TYPE_DISK, 1, L"c:\\Users\\ann\\AppData\\Local\\Talvor VPN\\logs"};
  const HandleFacts file{FILE_ATTRIBUTE_ARCHIVE, FILE_TYPE_DISK, 1, path + L"\\talvor-1.log"};
  struct Case {
    const char* what;
    std::function<void(HandleFacts&)> change;
    const char* folder_refusal;
    const char* file_refusal;
  };
  const Case cases[] = {
      {"as it should be", [](HandleFacts&) {}, nullptr, nullptr},
      {"a reparse point", [](HandleFacts& f) { f.attributes |= FILE_ATTRIBUTE_REPARSE_POINT; }, "a reparse point",
       "a reparse point"},
      {"reached elsewhere", [](HandleFacts& f) { f.final_path = L"C:\\windows\\System32"; }, "reached through a link",
       "reached through a link"},
      {"no final path", [](HandleFacts& f) { f.final_path.clear(); }, "reached through a link",
       "reached through a link"},
      {"two names", [](HandleFacts& f) { f.link_count = 2; }, nullptr, "a file with more than one name"},
      {"a device", [](HandleFacts& f) { f.file_type = FILE_TYPE_CHAR; }, nullptr, "not a regular file"},
  };
  for (const Case& c : cases) {
    HandleFacts folder_facts = folder;
    c.change(folder_facts);
    const char* refusal = FolderRefusal(folder_facts, path);
    EXPECT_STREQ(refusal, c.folder_refusal) << c.what;
    HandleFacts file_facts = file;
    c.change(file_facts);
    EXPECT_STREQ(FileRefusal(file_facts, path + L"\\talvor-1.log"), c.file_refusal) << c.what;
  }
  EXPECT_STREQ(FolderRefusal(file, path + L"\\talvor-1.log"), "not a folder");
  EXPECT_STREQ(FileRefusal(folder, path), "not a regular file");
}

class LogFilesTest : public testing::Test {
 protected:
  std::wstring Folder() const { return base_.path() + L"\\Talvor VPN\\logs"; }
  std::wstring File(int index) const { return Folder() + (index == 0 ? L"\\talvor-1.log" : L"\\talvor-2.log"); }
  std::optional<LogFiles> Open() const { return LogFiles::Open(base_.path(), kBelow, lock_name_); }

  ScratchDirectory base_{L"log"};
  const std::wstring lock_name_ = UniqueLockName();
};

TEST_F(LogFilesTest, MakesItsFoldersAndKeepsWhatTheFilesHold) {
  std::optional<LogFiles> files = Open();
  ASSERT_TRUE(files);
  EXPECT_EQ(test::ReadFileBytes(File(0)), "");
  EXPECT_EQ(test::ReadFileBytes(File(1)), "");
  ASSERT_TRUE(files->Append("first\r\n"));
  files.reset();

  std::optional<LogFiles> again = Open();
  ASSERT_TRUE(again);
  ASSERT_TRUE(again->Append("second\r\n"));
  EXPECT_EQ(test::ReadFileBytes(File(0)), "first\r\nsecond\r\n");
  EXPECT_EQ(test::ReadFileBytes(File(1)), "");
  EXPECT_FALSE(again->Append(std::string(kMaxLineBytes + 1, 'x'))) << "longer than a line may be";
}

// 200-byte lines, numbered: "line 000042 xxx...xxx\r\n".
std::string NumberedLine(int number) {
  char head[16];
  std::snprintf(head, sizeof(head), "line %06d ", number);
  std::string line = head;
  line.append(198 - line.size(), 'x');
  return line + "\r\n";
}

TEST_F(LogFilesTest, WritesInTurnWithinTwoMebibytesAndKeepsEveryLaterLine) {
  std::optional<LogFiles> files = Open();
  ASSERT_TRUE(files);
  constexpr int kLines = 20000;  // 4 MB: the files take their turn four times
  for (int number = 0; number < kLines; ++number) ASSERT_TRUE(files->Append(NumberedLine(number))) << number;

  for (int index = 0; index < 2; ++index) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(File(index).c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeHigh, 0u);
    EXPECT_LE(data.nFileSizeLow, 1048576u) << "file " << index + 1;
  }
  // What is kept is an unbroken run of whole lines up to the last one, at
  // least a full file's worth.
  std::vector<int> numbers;
  for (const std::string& line : test::ReadLogLines(Folder())) {
    const int number = std::atoi(line.substr(5, 6).c_str());
    ASSERT_EQ(line + "\r\n", NumberedLine(number));
    numbers.push_back(number);
  }
  std::sort(numbers.begin(), numbers.end());
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(numbers.back(), kLines - 1);
  EXPECT_EQ(numbers.back() - numbers.front() + 1, static_cast<int>(numbers.size())) << "a line is missing";
  EXPECT_GE(numbers.size() * 200, 1046528u);
  EXPECT_LE(numbers.size() * 200, 2097152u);
}

// What a user without administrator rights could leave on the way to the
// log, for an elevated instance to write through.
TEST_F(LogFilesTest, RefusesReparsePointsAndFilesWithAnotherName) {
  ScratchDirectory elsewhere{L"elsewhere"};
  const std::string precious = "a file the log must not touch\r\n";
  const std::wstring precious_file = elsewhere.File(L"precious.txt");
  struct Case {
    const char* what;
    std::function<bool(const std::wstring& base)> plant;
    const wchar_t* host_link;  // removed again by the test
  };
  const Case cases[] = {
      {"the log folder's parent a link to another folder",
       [&](const std::wstring& base) { return test::MakeHostSymlink(elsewhere.path(), base + L"\\Talvor VPN"); },
       L"\\Talvor VPN"},
      {"the log folder a link to another folder",
       [&](const std::wstring& base) {
         return CreateDirectoryW((base + L"\\Talvor VPN").c_str(), nullptr) &&
                test::MakeHostSymlink(elsewhere.path(), base + L"\\Talvor VPN\\logs");
       },
       L"\\Talvor VPN\\logs"},
      {"a log file a link to another file",
       [&](const std::wstring& base) {
         return CreateDirectoryW((base + L"\\Talvor VPN").c_str(), nullptr) &&
                CreateDirectoryW((base + L"\\Talvor VPN\\logs").c_str(), nullptr) &&
                test::MakeHostSymlink(precious_file, base + L"\\Talvor VPN\\logs\\talvor-2.log");
       },
       L"\\Talvor VPN\\logs\\talvor-2.log"},
      {"a log file a second name of another file",
       [&](const std::wstring& base) {
         return CreateDirectoryW((base + L"\\Talvor VPN").c_str(), nullptr) &&
                CreateDirectoryW((base + L"\\Talvor VPN\\logs").c_str(), nullptr) &&
                CreateHardLinkW((base + L"\\Talvor VPN\\logs\\talvor-1.log").c_str(), precious_file.c_str(), nullptr);
       },
       nullptr},
      {"the log folder a file",
       [&](const std::wstring& base) {
         return CreateDirectoryW((base + L"\\Talvor VPN").c_str(), nullptr) &&
                test::WriteFileBytes(base + L"\\Talvor VPN\\logs", "a file");
       },
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(test::WriteFileBytes(precious_file, precious));
    ScratchDirectory base{L"log"};
    ASSERT_TRUE(c.plant(base.path()));
    EXPECT_FALSE(LogFiles::Open(base.path(), kBelow, lock_name_));
    EXPECT_EQ(test::ReadFileBytes(precious_file), precious);
    EXPECT_FALSE(test::FileExists(elsewhere.File(L"logs")));
    EXPECT_FALSE(test::FileExists(elsewhere.File(L"talvor-1.log")));
    if (c.host_link != nullptr) {
      EXPECT_TRUE(test::RemoveHostSymlink(base.path() + c.host_link));
    }
  }
  // And below a folder that is reached through a link.
  ASSERT_TRUE(CreateDirectoryW(elsewhere.File(L"local").c_str(), nullptr));
  ScratchDirectory base{L"log"};
  ASSERT_TRUE(test::MakeHostSymlink(elsewhere.File(L"local"), base.File(L"linked")));
  EXPECT_FALSE(LogFiles::Open(base.File(L"linked"), kBelow, lock_name_));
  EXPECT_FALSE(test::FileExists(elsewhere.File(L"local\\Talvor VPN")));
  EXPECT_TRUE(test::RemoveHostSymlink(base.File(L"linked")));
}

}  // namespace
}  // namespace talvor::log
