#include "runner/elevation/pending_tun_launch.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "runner/elevation/windows_error.h"
#include "runner/utils.h"
#include "runner/win32_handles.h"
#include "tests/support/child_process.h"
#include "tests/support/system_state.h"

namespace {

using talvor::test::ReadFileBytes;
using talvor::test::FileExists;
using talvor::test::ScopedEnvironmentVariable;
using talvor::test::ScratchDirectory;
using talvor::test::TemporaryDirectory;
using talvor::test::WriteFileBytes;

const std::string kPrefix = "--talvor-pending-tun-launch=";

// Only the one argument of an elevated process is a launch; anywhere else it
// was smuggled in (a link breaking out of its quotes) and every copy goes.
TEST(ExtractPendingTunLaunchPath, HonoursOnlyTheOneArgumentOfAnElevatedProcess) {
  EXPECT_EQ(ExtractPendingTunLaunchPath(nullptr, true), L"");
  using Arguments = std::vector<std::string>;
  const std::string path_in_utf8 = "C:\\\xD0\xA2\xD0\xB5\xD0\xBC\xD0\xBF\\tlp1.tmp";  // C:\Темп\tlp1.tmp
  struct Case {
    const char* what;
    Arguments arguments;
    bool elevated;
    std::wstring path;
    Arguments left;
  } cases[] = {
      {"alone, elevated", {kPrefix + path_in_utf8}, true, L"C:\\Темп\\tlp1.tmp", {}},
      {"alone, not elevated", {kPrefix + path_in_utf8}, false, L"", {}},
      {"beside a link", {kPrefix + "C:\\t\\tlp1.tmp", "talvor://x"}, true, L"", {"talvor://x"}},
      {"twice", {"a", kPrefix + "x", "b", kPrefix + "second"}, true, L"", {"a", "b"}},
      {"with nothing after it", {kPrefix}, true, L"", {}},
      {"no argument has the prefix",
       {"talvor://x", "--talvor-pending-tun-launch", "b"}, true, L"",
       {"talvor://x", "--talvor-pending-tun-launch", "b"}},
      {"the prefix in another case", {"--Talvor-Pending-Tun-Launch=x"}, true, L"",
       {"--Talvor-Pending-Tun-Launch=x"}},
  };
  for (Case& c : cases) {
    EXPECT_EQ(ExtractPendingTunLaunchPath(&c.arguments, c.elevated), c.path) << c.what;
    EXPECT_EQ(c.arguments, c.left) << c.what;
  }
  EXPECT_FALSE(PendingTunLaunch(L"").IsPresent());
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

TEST_F(PendingFileTest, IsNamedTlpHexInTheTemporaryDirectory) {
  const std::wstring path = Write("{}");
  const std::wstring temporary = TemporaryDirectory().wstring();
  ASSERT_EQ(path.compare(0, temporary.size(), temporary), 0) << NarrowUtf8(path);
  const std::wstring name = path.substr(temporary.size());
  ASSERT_EQ(name.size(), 15u) << NarrowUtf8(name);
  EXPECT_EQ(name.compare(0, 3, L"tlp"), 0) << NarrowUtf8(name);
  EXPECT_EQ(name.find_first_not_of(L"0123456789ABCDEF", 3), 11u) << NarrowUtf8(name);
  EXPECT_EQ(name.substr(11), L".tmp");
  EXPECT_NE(Write("{}"), path) << "two launches share a file";
}

std::wstring ThisUsersSidText() {
  talvor::UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return L"";
  unsigned char buffer[256] = {};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size)) return L"";
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) return L"";
  std::wstring copy = text;
  LocalFree(text);
  return copy;
}

// The descriptor in the system's language: its owner and access list as
// text, then its integrity label read from the label list itself (Wine's
// text form leaves labels out).
std::wstring Describe(PSECURITY_DESCRIPTOR descriptor) {
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
          nullptr)) {
    return L"unreadable";
  }
  std::wstring description = text;
  LocalFree(text);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL labels = nullptr;
  if (!GetSecurityDescriptorSacl(descriptor, &present, &labels, &defaulted) || !present || labels == nullptr) {
    return description + L" no label";
  }
  for (DWORD index = 0; index < labels->AceCount; ++index) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(labels, index, reinterpret_cast<void**>(&header))) return description + L" unreadable label";
    if (header->AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE) continue;
    auto* label = reinterpret_cast<SYSTEM_MANDATORY_LABEL_ACE*>(header);
    wchar_t* sid = nullptr;
    ConvertSidToStringSidW(&label->SidStart, &sid);
    description += L" label " + std::wstring(sid != nullptr ? sid : L"?") + L" mask " +
                   std::to_wstring(label->Mask) + L" flags " + std::to_wstring(header->AceFlags);
    LocalFree(sid);
  }
  return description;
}

// Nobody but the writer, SYSTEM and the administrators may change the file
// while it waits, nor a process of low integrity read it. Wine keeps no
// descriptor it is given (it reports its own default when asked), so the
// descriptor is read where the file is made.
TEST_F(PendingFileTest, IsMadeWithPermissionsOfItsOwn) {
  const std::wstring user = ThisUsersSidText();
  ASSERT_FALSE(user.empty());
  std::vector<std::wstring> given;
  const NewFileCreator recording = [&given](const std::wstring& path, SECURITY_ATTRIBUTES* security) {
    given.push_back(security != nullptr && security->lpSecurityDescriptor != nullptr
                        ? Describe(security->lpSecurityDescriptor)
                        : L"none");
    EXPECT_FALSE(security != nullptr && security->bInheritHandle) << "an inheritable handle";
    return CreateNewFileForWriting(path, security);
  };
  const std::wstring path = WritePendingTunLaunchFile("{}", nullptr, recording);
  made_.push_back(path);
  EXPECT_EQ(ReadFileBytes(path), "{}");
  // No owner: the file's owner is its writer. Label: medium (S-1-16-8192),
  // no write up (1) and no read up (2).
  EXPECT_EQ(given, std::vector<std::wstring>{L"D:P(A;;FA;;;" + user +
                                             L")(A;;FA;;;SY)(A;;FA;;;BA) label S-1-16-8192 mask 3 flags 0"});
}

// A name another process took first (CREATE_NEW refuses it) costs one more
// try, never that process's file.
TEST_F(PendingFileTest, ANameTakenMeanwhileCostsAnotherTry) {
  std::vector<std::wstring> tried;
  const NewFileCreator clashing_once = [&tried](const std::wstring& path, SECURITY_ATTRIBUTES* security) {
    tried.push_back(path);
    if (tried.size() == 1) {
      SetLastError(ERROR_FILE_EXISTS);
      return INVALID_HANDLE_VALUE;
    }
    return CreateNewFileForWriting(path, security);
  };
  const std::wstring path = WritePendingTunLaunchFile("{}", nullptr, clashing_once);
  made_.push_back(path);
  ASSERT_EQ(tried.size(), 2u);
  EXPECT_NE(tried[0], tried[1]);
  EXPECT_EQ(path, tried[1]);
  EXPECT_EQ(ReadFileBytes(path), "{}");
}

TEST(WritePendingTunLaunchFile, ReportsTheSystemsTextWhenNoFileCanBeMade) {
  ScratchDirectory scratch(L"notemp");
  const std::wstring missing = scratch.File(L"missing") + L"\\";
  ScopedEnvironmentVariable tmp(L"TMP", missing);
  ScopedEnvironmentVariable temp(L"TEMP", missing);
  // What the system answers to a new file there.
  ASSERT_EQ(CreateFileW((missing + L"tlp1.tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
            INVALID_HANDLE_VALUE);
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

// The launch holds its file shared for reading only: a reader elsewhere does
// not stop it, but a handle that may write or delete the file, however much
// that handle shares, keeps the launch from opening it. Consumption is final
// even when it gave nothing, and then the file stays.
TEST_F(PendingFileTest, IsOpenedSharedForReadingOnly) {
  const struct {
    const char* what;
    DWORD access;
    bool taken;
  } others[] = {
      {"a reader", GENERIC_READ, true},
      {"a writer", GENERIC_WRITE, false},
      {"a deleter", DELETE, false},
  };
  for (const auto& other : others) {
    const std::wstring file = Write("{}");
    PendingTunLaunch launch(file);
    talvor::UniqueFileHandle handle(CreateFileW(file.c_str(), other.access,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(handle) << other.what;
    EXPECT_EQ(launch.Take(), other.taken ? "{}" : "") << other.what;
    EXPECT_FALSE(launch.IsPresent()) << other.what;
    handle.reset();
    EXPECT_EQ(FileExists(file), !other.taken) << other.what;
  }
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

// A folder link on the way could lead the elevated process anywhere, a
// share included: the path is not even looked at. ("through-link" beside
// this program is a link to its own folder; Wine reports it as a reparse
// point.)
TEST(PendingTunLaunch, AFolderLinkOnTheWayIsRefusedBeforeAnythingIsOpened) {
  const std::wstring here = talvor::test::TestExecutableDirectory();
  const std::wstring name = L"tlp" + std::to_wstring(GetCurrentProcessId()) + L"L.tmp";
  ASSERT_TRUE(WriteFileBytes(here + L"\\" + name, "{}"));
  {
    PendingTunLaunch unconsumed(here + L"\\through-link\\" + name);
    EXPECT_FALSE(unconsumed.IsPresent());
    PendingTunLaunch launch(here + L"\\through-link\\" + name);
    EXPECT_EQ(launch.Take(), "");
  }
  EXPECT_EQ(ReadFileBytes(here + L"\\" + name), "{}") << "neither read nor deleted";
  DeleteFileW((here + L"\\" + name).c_str());
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

// One byte past the largest payload, and a size whose low 32 bits say one
// byte (a file that ends past 4 GiB takes no disk space here: Wine's files on
// a Linux file system are sparse).
TEST_F(RefusedLaunchFileTest, AFileLargerThanAnyPayload) {
  const struct {
    const wchar_t* name;
    LONGLONG size;
  } files[] = {{L"tlp3a.tmp", 16 * 1024 * 1024 + 1}, {L"tlp3b.tmp", (1LL << 32) + 1}};
  for (const auto& file : files) {
    const std::wstring path = scratch_.File(file.name);
    {
      talvor::UniqueFileHandle made(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
      ASSERT_TRUE(made);
      LARGE_INTEGER size = {};
      size.QuadPart = file.size;
      ASSERT_TRUE(SetFilePointerEx(made.get(), size, nullptr, FILE_BEGIN));
      ASSERT_TRUE(SetEndOfFile(made.get()));
    }
    ExpectRefused(path);
  }
}

// A link named like a launch file that leads to a launch file elsewhere:
// Wine shows a link to a file as the file itself, and the final path of what
// was opened is where the link leads, not where the path says.
TEST_F(RefusedLaunchFileTest, ALinkToALaunchFileElsewhere) {
  ScratchDirectory elsewhere(L"elsewhere");
  const std::wstring target = elsewhere.File(L"tlp9.tmp");
  ASSERT_TRUE(WriteFileBytes(target, "{\"mode\": \"tun\"}"));
  ScratchDirectory linked(L"linked");  // goes first, with its link
  const std::wstring link = linked.File(L"tlp4.tmp");
  ASSERT_TRUE(talvor::test::MakeHostSymlink(target, link));
  ExpectRefused(link);
  EXPECT_EQ(ReadFileBytes(target), "{\"mode\": \"tun\"}");
}

OpenedFileFacts RegularFile() {
  OpenedFileFacts facts;
  facts.attributes = FILE_ATTRIBUTE_ARCHIVE;
  facts.file_type = FILE_TYPE_DISK;
  facts.link_count = 1;
  facts.size = 42;
  facts.final_path = L"C:\\Users\\u\\AppData\\Local\\Temp\\tlp1.tmp";
  facts.expected_path = facts.final_path;
  facts.owned_by_a_user_of_this_session = true;
  return facts;
}

// The checks on what the open handle leads to, given as the system would
// describe them. Under Wine a file that is a link reads as a plain file (the
// reparse point case cannot be made there) and a folder link on the way is
// refused before the file is opened; a link to a file elsewhere and a size
// past 4 GiB run for real above.
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
      {"a short name of a file not named like a launch (TLP1~1.TMP)",
       [](OpenedFileFacts& f) {
         f.final_path = f.expected_path = L"C:\\Users\\u\\AppData\\Local\\Temp\\tlp1.tmp.key";
       }},
      {"a file of someone outside this session",
       [](OpenedFileFacts& f) { f.owned_by_a_user_of_this_session = false; }},
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
