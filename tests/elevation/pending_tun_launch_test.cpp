#include "runner/elevation/pending_tun_launch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "runner/elevation/windows_error.h"
#include "runner/utils.h"
#include "runner/win32_handles.h"
#include "tests/support/system_state.h"

namespace {

using talvor::test::ReadFileBytes;
using talvor::test::FileExists;
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
  EXPECT_FALSE(PendingTunLaunch(L"").IsPresent());
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
  const std::wstring temporary = TemporaryDirectory().wstring();
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
  const std::wstring file = Write("{\"mode\": \"tun\"}");
  PendingTunLaunch launch(file);
  EXPECT_TRUE(launch.IsPresent());

  EXPECT_EQ(launch.Take(), "{\"mode\": \"tun\"}");
  EXPECT_FALSE(FileExists(file));
  EXPECT_FALSE(launch.IsPresent());
  EXPECT_EQ(launch.Take(), "");
}

TEST_F(PendingFileTest, AFileDeletedByOthersIsNoLaunch) {
  PendingTunLaunch launch(Write("{}"));
  ASSERT_TRUE(DeleteFileW(made_.back().c_str()));
  EXPECT_FALSE(launch.IsPresent());
  EXPECT_EQ(launch.Take(), "");
}

// Consumption is final even when it gave nothing.
TEST_F(PendingFileTest, AFileInUseEndsTheLaunchButStays) {
  const std::wstring file = Write("{}");
  {
    PendingTunLaunch launch(file);
    talvor::UniqueFileHandle writer(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_TRUE(launch.IsPresent());
    EXPECT_EQ(launch.Take(), "");
    EXPECT_FALSE(launch.IsPresent());
  }
  EXPECT_EQ(ReadFileBytes(file), "{}");
}

// Wine reads past another handle's lock, so the read error is made by the
// reader: it fails after the first part of a payload larger than one read.
TEST_F(PendingFileTest, AReadThatFailsGivesNothingAndKeepsTheFile) {
  const std::string payload(3 * 1024 * 1024, 'p');
  const std::wstring file = Write(payload);
  int reads = 0;
  const FileReader failing_second_read = [&reads](HANDLE handle, void* buffer, DWORD size, DWORD* read) {
    if (++reads == 2) {
      SetLastError(ERROR_IO_DEVICE);
      return false;
    }
    return ReadFromFile(handle, buffer, size, read);
  };
  {
    PendingTunLaunch launch(file, failing_second_read);
    EXPECT_EQ(launch.Take(), "");
    EXPECT_FALSE(launch.IsPresent());
  }
  EXPECT_EQ(reads, 2);
  EXPECT_TRUE(ReadFileBytes(file) == payload) << "the file was not kept whole";
}

// The user interface never asked: the payload, which may hold credentials,
// does not outlive the instance.
TEST_F(PendingFileTest, ALaunchNeverConsumedIsDeletedWithTheInstance) {
  const std::wstring file = Write("{\"password\": \"secret\"}");
  {
    PendingTunLaunch launch(file);
    EXPECT_TRUE(launch.IsPresent());
  }
  EXPECT_FALSE(FileExists(file));
}

// The path comes from the command line: only files named like launch files,
// by a full path on a drive, are ever opened.
TEST(PendingTunLaunchFilePath, AcceptsLaunchFilesInAnyFolderByFullPath) {
  const std::wstring temporary = TemporaryDirectory().wstring();
  EXPECT_TRUE(IsPendingTunLaunchFilePath(temporary + L"tlp1A2B.tmp"));
  EXPECT_TRUE(IsPendingTunLaunchFilePath(temporary + L"TLP1A2B.TMP"));
  EXPECT_TRUE(IsPendingTunLaunchFilePath(temporary + L"sub\\tlp1A2B.tmp"));
  EXPECT_TRUE(IsPendingTunLaunchFilePath(L"C:\\Users\\Администратор\\AppData\\Local\\Temp\\tlpF.tmp"));
  EXPECT_TRUE(IsPendingTunLaunchFilePath(L"d:\\tlp.tmp"));
}

TEST(PendingTunLaunchFilePath, RefusesOtherNamesAndPathsThatAreNotFullDrivePaths) {
  const std::wstring temporary = TemporaryDirectory().wstring();
  for (const std::wstring& path : {
           std::wstring(L"tlp1A2B.tmp"),
           std::wstring(L"\\tlp1A2B.tmp"),
           std::wstring(L"C:tlp1A2B.tmp"),
           std::wstring(L"\\\\server\\share\\tlp1A2B.tmp"),
           std::wstring(L"\\\\?\\C:\\t\\tlp1A2B.tmp"),
           std::wstring(L"\\\\.\\pipe\\tlp1A2B.tmp"),
           temporary + L"..\\tlp1A2B.tmp",
           temporary + L".\\tlp1A2B.tmp",
           temporary + L"sub/tlp1A2B.tmp",
           temporary + L"tlp1A2B.tmp.",
           temporary + L"tlp1A2B.tmp ",
           temporary + L"notes.tmp",
           temporary + L"tlp1A2B.txt",
           temporary + L"tlp.tm",
           temporary + L"tlp1:secret.tmp",
           temporary + L"tlp1.tmp:x.tmp",
           std::wstring(L"C:\\t:x\\tlp1A2B.tmp"),
           std::wstring(),
       }) {
    EXPECT_FALSE(IsPendingTunLaunchFilePath(path)) << NarrowUtf8(path);
  }
}

TEST(PendingTunLaunch, IsTakenFromAFolderOtherThanTheTemporaryOne) {
  ScratchDirectory elsewhere(L"other temp");
  const std::wstring file = elsewhere.File(L"tlp9F.tmp");
  WriteFileBytes(file, "{\"mode\": \"tun\"}");
  PendingTunLaunch launch(file);
  EXPECT_TRUE(launch.IsPresent());
  EXPECT_EQ(launch.Take(), "{\"mode\": \"tun\"}");
  EXPECT_FALSE(FileExists(file));
}

// Temporary folders are often named in their short form; the file is still
// where its path says.
TEST(PendingTunLaunch, IsTakenThroughAShortFolderName) {
  ScratchDirectory folder(L"folder with a long name");
  WriteFileBytes(folder.File(L"tlp5.tmp"), "{}");
  wchar_t short_folder[MAX_PATH] = {};
  ASSERT_GT(GetShortPathNameW(folder.path().c_str(), short_folder, MAX_PATH), 0u);
  ASSERT_NE(std::wstring(short_folder), folder.path());
  PendingTunLaunch launch(std::wstring(short_folder) + L"\\tlp5.tmp");
  EXPECT_EQ(launch.Take(), "{}");
  EXPECT_FALSE(FileExists(folder.File(L"tlp5.tmp")));
}

// What the elevated instance must never read nor delete, as it finds it on
// the disk.
class RefusedLaunchFileTest : public testing::Test {
 protected:
  // Consumes `path` and checks that nothing was given and nothing deleted,
  // neither by the consumption nor by the end of the instance.
  void ExpectRefused(const std::wstring& path) {
    {
      PendingTunLaunch unconsumed(path);
    }
    PendingTunLaunch launch(path);
    EXPECT_TRUE(launch.IsPresent()) << "something exists there";
    EXPECT_EQ(launch.Take(), "");
    EXPECT_TRUE(FileExists(path));
  }

  ScratchDirectory scratch_{L"refused"};
};

TEST_F(RefusedLaunchFileTest, ADirectory) {
  const std::wstring path = scratch_.File(L"tlp1.tmp");
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
  ExpectRefused(path);
}

// A second name is a way to swap the content behind the elevated process.
TEST_F(RefusedLaunchFileTest, AFileWithASecondName) {
  const std::wstring path = scratch_.File(L"tlp2.tmp");
  const std::wstring other_name = scratch_.File(L"users-file.txt");
  WriteFileBytes(other_name, "a file of the user's");
  ASSERT_TRUE(CreateHardLinkW(path.c_str(), other_name.c_str(), nullptr));
  ExpectRefused(path);
  EXPECT_EQ(ReadFileBytes(other_name), "a file of the user's");
}

TEST_F(RefusedLaunchFileTest, AFileLargerThanAnyPayload) {
  const std::wstring path = scratch_.File(L"tlp3.tmp");
  {
    talvor::UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file);
    LARGE_INTEGER size = {};
    size.QuadPart = 16 * 1024 * 1024 + 1;
    ASSERT_TRUE(SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.get()));
  }
  ExpectRefused(path);
}

OpenedFileFacts RegularFile() {
  OpenedFileFacts facts;
  facts.attributes = FILE_ATTRIBUTE_ARCHIVE;
  facts.file_type = FILE_TYPE_DISK;
  facts.link_count = 1;
  facts.size = 42;
  facts.final_path = L"C:\\Users\\u\\AppData\\Local\\Temp\\tlp1.tmp";
  facts.expected_path = facts.final_path;
  return facts;
}

// The checks on what the open handle leads to. Reparse points cannot be made
// under Wine, so these cases are given as the system would describe them.
TEST(AcceptableLaunchFile, IsARegularDiskFileWithOneNameReachedWhereItsPathSays) {
  EXPECT_TRUE(IsAcceptableLaunchFile(RegularFile()));
  OpenedFileFacts other_case = RegularFile();
  other_case.expected_path = L"c:\\users\\U\\APPDATA\\local\\temp\\TLP1.TMP";
  EXPECT_TRUE(IsAcceptableLaunchFile(other_case));
  OpenedFileFacts largest = RegularFile();
  largest.size = kMaxPendingTunLaunchBytes;
  EXPECT_TRUE(IsAcceptableLaunchFile(largest));
}

TEST(AcceptableLaunchFile, RefusesReparsePointsDevicesAndRedirectedFolders) {
  struct Case {
    const char* what;
    void (*change)(OpenedFileFacts&);
  };
  const Case cases[] = {
      {"a reparse point (a link)",
       [](OpenedFileFacts& f) { f.attributes |= FILE_ATTRIBUTE_REPARSE_POINT; }},
      {"a directory", [](OpenedFileFacts& f) { f.attributes |= FILE_ATTRIBUTE_DIRECTORY; }},
      {"a device", [](OpenedFileFacts& f) { f.attributes |= FILE_ATTRIBUTE_DEVICE; }},
      {"a pipe", [](OpenedFileFacts& f) { f.file_type = FILE_TYPE_PIPE; }},
      {"a character device", [](OpenedFileFacts& f) { f.file_type = FILE_TYPE_CHAR; }},
      {"two names", [](OpenedFileFacts& f) { f.link_count = 2; }},
      {"no name count", [](OpenedFileFacts& f) { f.link_count = 0; }},
      {"too large", [](OpenedFileFacts& f) { f.size = kMaxPendingTunLaunchBytes + 1; }},
      {"a folder that is a junction elsewhere",
       [](OpenedFileFacts& f) { f.final_path = L"C:\\Windows\\System32\\config\\tlp1.tmp"; }},
      {"a final path the system would not give", [](OpenedFileFacts& f) { f.final_path.clear(); }},
      {"a path that does not resolve", [](OpenedFileFacts& f) { f.expected_path.clear(); }},
  };
  for (const Case& refused : cases) {
    OpenedFileFacts facts = RegularFile();
    refused.change(facts);
    EXPECT_FALSE(IsAcceptableLaunchFile(facts)) << refused.what;
  }
}

TEST(PendingTunLaunch, OtherFilesAreNeverReadNorDeleted) {
  const std::wstring temporary = TemporaryDirectory().wstring();
  const std::wstring misnamed = temporary + L"talvor-test-foreign-" +
                                std::to_wstring(GetCurrentProcessId()) + L".json";
  WriteFileBytes(misnamed, "user's data");
  {
    PendingTunLaunch unconsumed(misnamed);
  }
  PendingTunLaunch launch(misnamed);
  EXPECT_FALSE(launch.IsPresent());
  EXPECT_EQ(launch.Take(), "");
  EXPECT_EQ(ReadFileBytes(misnamed), "user's data");
  DeleteFileW(misnamed.c_str());
}

}  // namespace
