// Two processes writing the log at once, through the program's own code.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/log_folder.h"
#include "tests/support/system_state.h"

namespace talvor::test {
namespace {

constexpr int kLinesEach = 10000;

TEST(LogWriters, TwoProcessesAtOnceLeaveWholeLinesWithinTwoMebibytesAndLoseNoLaterLine) {
  const ScopedLocalAppData local_app_data;
  ASSERT_FALSE(local_app_data.path().empty());
  const std::wstring writer = BuildPath(TALVOR_LOG_WRITER);
  std::optional<ChildProcess> a = ChildProcess::Start(writer, {L"A", std::to_wstring(kLinesEach)});
  std::optional<ChildProcess> b = ChildProcess::Start(writer, {L"B", std::to_wstring(kLinesEach)});
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->WaitForExit(std::chrono::seconds(120)), 0u);
  ASSERT_EQ(b->WaitForExit(std::chrono::seconds(120)), 0u);

  std::uint64_t total = 0;
  for (const wchar_t* name : {L"\\talvor-1.log", L"\\talvor-2.log"}) {
    const std::optional<std::string> bytes = ReadFileBytes(local_app_data.LogFolder() + name);
    ASSERT_TRUE(bytes);
    EXPECT_LE(bytes->size(), 1048576u);
    EXPECT_EQ(bytes->empty() ? std::string("\r\n") : bytes->substr(bytes->size() - 2), "\r\n");
    total += bytes->size();
  }
  EXPECT_LE(total, 2097152u);

  // Every line whole; each writer's lines an unbroken run up to its last.
  const std::regex whole_line(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \[(\d+)\] (normal|elevated) INFO test: ([AB]) (\d{5}) x{100})");
  std::map<std::string, std::vector<int>> numbers;
  for (const std::string& line : ReadLogLines(local_app_data.LogFolder())) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, whole_line)) << line;
    numbers[match[3]].push_back(std::stoi(match[4]));
  }
  size_t kept = 0;
  for (const char* tag : {"A", "B"}) {
    std::vector<int>& mine = numbers[tag];
    ASSERT_FALSE(mine.empty()) << tag;
    EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end())) << tag << ": out of order";
    EXPECT_EQ(mine.back(), kLinesEach - 1) << tag;
    EXPECT_EQ(mine.back() - mine.front() + 1, static_cast<int>(mine.size())) << tag << ": a line is missing";
    kept += mine.size();
  }
  EXPECT_GE(total, 1046528u) << kept << " lines kept";
}

}  // namespace
}  // namespace talvor::test
