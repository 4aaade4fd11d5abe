#include "runner/elevation/pending_tun_launch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "runner/elevation/windows_error.h"
#include "runner/utils.h"
#include "runner/win32_handles.h"
#include "tests/support/system_state.h"

namespace {

using talvor::test::FileExists;
using talvor::test::ReadFileBytes;
using talvor::test::ScopedEnvironmentVariable;
using talvor::test::ScratchDirectory;
using talvor::test::TemporaryDirectory;
using talvor::test::WriteFileBytes;

const std::string kPrefix = "--talvor-pending-tun-launch=";

TEST(ExtractPendingTunLaunchPath, LeavesAListWithoutTheArgumentAlone) {
  EXPECT_EQ(ExtractPendingTunLaunchPath(nullptr), L"");
  std::vector<std::string> arguments = {"talvor://x", "--talvor-pending-tun-launch", "b"};
  EXPECT_EQ(ExtractPendingTunLaunchPath(&arguments), L"");
  EXPECT_EQ(arguments, (std::vector<std::string>{"talvor://x", "--talvor-pending-tun-launch", "b"}));
}

TEST(ExtractPendingTunLaunchPath, TakesOutTheFirstMatchAndKeepsTheOrderOfTheRest) {
  std::vector<std::string> arguments = {"a", kPrefix + "C:\\t\\p.json", "b", kPrefix + "second",
                                        "c"};
  EXPECT_EQ(ExtractPendingTunLaunchPath(&arguments), L"C:\\t\\p.json");
  EXPECT_EQ(arguments, (std::vector<std::string>{"a", "b", kPrefix + "second", "c"}));
}

TEST(ExtractPendingTunLaunchPath, RemovesThePrefixWithNothingAfterIt) {
  std::vector<std::string> arguments = {kPrefix, "talvor://x"};
  EXPECT_EQ(ExtractPendingTunLaunchPath(&arguments), L"");
  EXPECT_EQ(arguments, std::vector<std::string>{"talvor://x"});
  EXPECT_FALSE(IsPendingTunLaunchPresent(L"", false));
}

TEST(ExtractPendingTunLaunchPath, IgnoresAPrefixInAnotherCaseAndWidensThePath) {
  std::vector<std::string> arguments = {"--Talvor-Pending-Tun-Launch=x",
                                        kPrefix + "C:\\\xD0\xA2\xD0\xB5\xD0\xBC\xD0\xBF\\tlp1.tmp"};
  EXPECT_EQ(ExtractPendingTunLaunchPath(&arguments), L"C:\\Темп\\tlp1.tmp");
  EXPECT_EQ(arguments, std::vector<std::string>{"--Talvor-Pending-Tun-Launch=x"});
}

class PendingFileTest : public testing::Test {
 protected:
  void TearDown() override {
    for (const std::wstring& path : made_) {
      std::error_code ignored;
      std::filesystem::remove(std::filesystem::path(path), ignored);
    }
  }

  std::wstring Write(const std::string& payload) {
    std::string message = "untouched";
    const std::wstring path = WritePendingTunLaunchFile(payload, &message);
    EXPECT_FALSE(path.empty()) << message;
    EXPECT_EQ(message, "untouched") << "a message without a failure";
    made_.push_back(path);
    return path;
  }

  std::vector<std::wstring> made_;
};

TEST_F(PendingFileTest, HoldsExactlyThePayloadBytes) {
  const std::string payload = std::string("{\"server\": \"de 1\", \"name\": \"\xD0\x9F\xD1\x80\"}\r\n") +
                              std::string(1, '\0') + "\xFF";
  const std::wstring path = Write(payload);
  EXPECT_EQ(ReadFileBytes(path), payload);
  EXPECT_EQ(ReadFileBytes(Write("")), std::string());
}

TEST_F(PendingFileTest, IsNamedBySystemInTheTemporaryDirectory) {
  const std::wstring path = Write("{}");
  const std::wstring temporary = TemporaryDirectory();
  ASSERT_EQ(path.compare(0, temporary.size(), temporary), 0) << NarrowUtf8(path);
  const std::wstring name = path.substr(temporary.size());
  EXPECT_EQ(name.find_first_of(L"\\/"), std::wstring::npos);
  EXPECT_EQ(name.compare(0, 3, L"tlp"), 0) << NarrowUtf8(name);
  EXPECT_EQ(name.substr(name.size() - 4), L".tmp");
  EXPECT_NE(Write("{}"), path) << "two launches share a file";
}

TEST(WritePendingTunLaunchFile, ReportsTheSystemsTextWhenNoFileCanBeMade) {
  ScratchDirectory scratch(L"notemp");
  const std::wstring missing = scratch.File(L"missing") + L"\\";
  ScopedEnvironmentVariable tmp(L"TMP", missing);
  ScopedEnvironmentVariable temp(L"TEMP", missing);
  wchar_t ignored[MAX_PATH] = {};
  ASSERT_EQ(GetTempFileNameW(missing.c_str(), L"tlp", 0, ignored), 0u);
  const DWORD code = GetLastError();

  std::string message;
  EXPECT_EQ(WritePendingTunLaunchFile("{}", &message), L"");
  EXPECT_EQ(message, NarrowUtf8(FormatWindowsError(code)));
  EXPECT_EQ(WritePendingTunLaunchFile("{}", nullptr), L"");
}

TEST_F(PendingFileTest, IsGivenOnceThenGoneForGood) {
  std::wstring path = Write("{\"mode\": \"tun\"}");
  const std::wstring file = path;
  bool consumed = false;
  EXPECT_TRUE(IsPendingTunLaunchPresent(path, consumed));

  EXPECT_EQ(TakePendingTunLaunchPayload(&path, &consumed), "{\"mode\": \"tun\"}");
  EXPECT_TRUE(consumed);
  EXPECT_EQ(path, L"");
  EXPECT_FALSE(FileExists(file));
  EXPECT_FALSE(IsPendingTunLaunchPresent(path, consumed));
  EXPECT_EQ(TakePendingTunLaunchPayload(&path, &consumed), "");
}

TEST_F(PendingFileTest, AFileDeletedByOthersIsNoLaunch) {
  std::wstring path = Write("{}");
  ASSERT_TRUE(DeleteFileW(path.c_str()));
  bool consumed = false;
  EXPECT_FALSE(IsPendingTunLaunchPresent(path, consumed));
  EXPECT_EQ(TakePendingTunLaunchPayload(&path, &consumed), "");
  EXPECT_TRUE(consumed);
}

TEST_F(PendingFileTest, AnUnreadableFileEndsTheLaunchButStays) {
  std::wstring path = Write("{}");
  const std::wstring file = path;
  bool consumed = false;
  {
    talvor::UniqueFileHandle exclusive(
        CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(exclusive);
    EXPECT_EQ(TakePendingTunLaunchPayload(&path, &consumed), "");
  }
  EXPECT_TRUE(consumed);
  EXPECT_FALSE(IsPendingTunLaunchPresent(file, consumed));
  EXPECT_EQ(ReadFileBytes(file), "{}");
}

// The path comes from the command line, which a link can extend: only files
// of the kind the relaunch writes are ever read or deleted.
TEST(PendingTunLaunchFilePath, AcceptsOnlyLaunchFilesDirectlyInTheTemporaryDirectory) {
  const std::wstring temporary = TemporaryDirectory();
  EXPECT_TRUE(IsPendingTunLaunchFilePath(temporary + L"tlp1A2B.tmp"));
  EXPECT_TRUE(IsPendingTunLaunchFilePath(temporary + L"TLP1A2B.TMP"));

  EXPECT_FALSE(IsPendingTunLaunchFilePath(L"tlp1A2B.tmp"));
  EXPECT_FALSE(IsPendingTunLaunchFilePath(L"C:\\t\\p.json"));
  EXPECT_FALSE(IsPendingTunLaunchFilePath(temporary + L"sub\\tlp1A2B.tmp"));
  EXPECT_FALSE(IsPendingTunLaunchFilePath(temporary + L"..\\tlp1A2B.tmp"));
  EXPECT_FALSE(IsPendingTunLaunchFilePath(temporary + L"notes.tmp"));
  EXPECT_FALSE(IsPendingTunLaunchFilePath(temporary + L"tlp1A2B.txt"));
  EXPECT_FALSE(IsPendingTunLaunchFilePath(temporary + L"tlp.tm"));
  EXPECT_FALSE(IsPendingTunLaunchFilePath(temporary + L"tlp1:secret.tmp"));
}

TEST(PendingTunLaunchFilePath, OtherFilesAreNeverReadNorDeleted) {
  ScratchDirectory scratch(L"foreign");
  const std::wstring temporary = TemporaryDirectory();
  const std::wstring outside = scratch.File(L"tlp1234.tmp");
  const std::wstring misnamed = temporary + L"talvor-test-foreign-" +
                                std::to_wstring(GetCurrentProcessId()) + L".json";
  for (const std::wstring& file : {outside, misnamed}) {
    WriteFileBytes(file, "user's data");
    std::wstring path = file;
    bool consumed = false;
    EXPECT_FALSE(IsPendingTunLaunchPresent(path, consumed)) << NarrowUtf8(file);
    EXPECT_EQ(TakePendingTunLaunchPayload(&path, &consumed), "");
    EXPECT_TRUE(consumed);
    EXPECT_EQ(path, L"");
    EXPECT_EQ(ReadFileBytes(file), "user's data") << NarrowUtf8(file);
    DeleteFileW(file.c_str());
  }
}

}  // namespace
