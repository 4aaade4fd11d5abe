// What a line of the log holds, byte for byte, and what never goes in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/log/log.h"
#include "runner/log/log_line.h"

namespace talvor::log {
namespace {

SYSTEMTIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD millisecond) {
  SYSTEMTIME time = {};
  time.wYear = year;
  time.wMonth = month;
  time.wDay = day;
  time.wHour = hour;
  time.wMinute = minute;
  time.wSecond = second;
  time.wMilliseconds = millisecond;
  return time;
}

TEST(LogLine, HoldsTimeProcessElevationLevelAreaAndMessage) {
  struct Case {
    SYSTEMTIME time;
    Writer writer;
    Level level;
    const char* area;
    const char* message;
    const char* line;
  };
  const Case cases[] = {
      {At(2026, 12, 8, 9, 15, 2, 417), {4242, false}, Level::kInfo, "start", "version 1.0.0+14",
       "2026-12-08T09:15:02.417Z [4242] normal INFO start: version 1.0.0+14\r\n"},
      {At(2027, 1, 2, 3, 4, 5, 6), {7, true}, Level::kWarning, "tray", "not added",
       "2027-01-02T03:04:05.006Z [7] elevated WARN tray: not added\r\n"},
      {At(2026, 12, 31, 23, 59, 59, 999), {4294967295u, false}, Level::kError, "box",
       "Talvor VPN - Error: Unable to load talvor.dll.\nMake sure\n",
       "2026-12-31T23:59:59.999Z [4294967295] normal ERROR box: Talvor VPN - Error: Unable to load "
       "talvor.dll.\\nMake sure\\n\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatLine(c.time, c.writer, c.level, c.area, c.message), c.line);
  }
}

std::string Repeat(const std::string& text, int times) {
  std::string repeated;
  for (int i = 0; i < times; ++i) repeated += text;
  return repeated;
}

TEST(LogLine, NoMessageBreaksOrLengthensALine) {
  const std::string cyrillic = "\xD0\x96";  // "Ж", two bytes
  struct Case {
    std::string message;
    std::string clean;
  };
  const Case cases[] = {
      {"a\r\nb\tc", "a\\r\\nb\\tc"},
      {std::string("nul\0esc\x1B" "del\x7F", 12), "nul\\x00esc\\x1Bdel\\x7F"},
      {"Подключено", "Подключено"},
      {std::string(1100, 'a'), std::string(1024, 'a') + "\xE2\x80\xA6"},
      // Cut before a character that would not fit whole.
      {std::string(1023, 'a') + cyrillic + "b", std::string(1023, 'a') + "\xE2\x80\xA6"},
      {std::string(1022, 'a') + cyrillic + "b", std::string(1022, 'a') + cyrillic + "\xE2\x80\xA6"},
      {std::string(2000, '\n'), Repeat("\\n", 512) + "\xE2\x80\xA6"},
  };
  for (const Case& c : cases) EXPECT_EQ(CleanMessage(c.message), c.clean) << c.message.substr(0, 20);

  const std::string longest = FormatLine(At(2026, 1, 1, 0, 0, 0, 0), {4294967295u, true}, Level::kError,
                                         std::string(100, '\n'), std::string(100000, '\x01'));
  EXPECT_LE(longest.size(), kMaxLineBytes);
  EXPECT_EQ(longest.find('\n'), longest.size() - 1);
}

TEST(LogLine, TheProfileFolderIsWrittenAsItsVariable) {
  const std::vector<std::string> profile = {"C:\\users\\Ann", "C:\\users\\ANNSMI~1"};
  struct Case {
    const char* text;
    const char* hidden;
  };
  const Case cases[] = {
      {"accepted: C:\\users\\Ann\\Temp\\tlp1A.tmp", "accepted: %USERPROFILE%\\Temp\\tlp1A.tmp"},
      {"folder c:\\USERS\\ann\\AppData and C:\\users\\Ann",
       "folder %USERPROFILE%\\AppData and %USERPROFILE%"},
      {"short C:\\users\\ANNSMI~1\\AppData\\Local\\Temp\\", "short %USERPROFILE%\\AppData\\Local\\Temp\\"},
      {"another user C:\\users\\Anna\\x and C:\\users\\Ann.old", "another user C:\\users\\Anna\\x and C:\\users\\Ann.old"},
      {"C:\\users\\Ann\"quoted\"", "%USERPROFILE%\"quoted\""},
      {"nothing of it", "nothing of it"},
  };
  for (const Case& c : cases) EXPECT_EQ(HideProfile(c.text, profile), c.hidden);
  EXPECT_EQ(HideProfile("C:\\users\\Ann", {}), "C:\\users\\Ann");
}

// A link is told by its scheme and length; an argument by its kind alone.
TEST(LogLine, LinksAndArgumentsAreToldByKindOnly) {
  EXPECT_EQ(DescribeLink("talvor://connect?token=SECRET"), "link talvor: of 29 bytes");
  EXPECT_EQ(DescribeLink("no scheme SECRET"), "text of 16 bytes");
  EXPECT_EQ(DescribeArguments({}), "none");
  EXPECT_EQ(DescribeArguments({"--talvor-pending-tun-launch=C:\\SECRET.tmp", "https://x.example/SECRET",
                               "--name=SECRET", ""}),
            "pending launch, link https: of 24 bytes, other, other");
}

TEST(LogFolderInExplorer, IsTheWindowsFoldersExplorerWithTheFolderQuoted) {
  const ExplorerCommand command =
      ExplorerCommandFor(L"C:\\windows", L"C:\\users\\Ann\\AppData\\Local\\Talvor VPN\\logs");
  EXPECT_EQ(command.program, L"C:\\windows\\explorer.exe");
  EXPECT_EQ(command.command_line,
            L"\"C:\\windows\\explorer.exe\" \"C:\\users\\Ann\\AppData\\Local\\Talvor VPN\\logs\"");
}

}  // namespace
}  // namespace talvor::log
