// The rules of the package's custom actions: what lies in the installation
// folder, which program a URL scheme starts, which scheme a removal takes
// away, and how running copies are closed.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "installer/actions/folder_rules.h"
#include "installer/actions/running_program.h"
#include "installer/actions/url_scheme_cleanup.h"
#include "tests/support/child_process.h"
#include "tests/support/system_state.h"
#include "tests/support/talvor_program.h"
#include "tests/support/text.h"

namespace talvor::installer {
namespace {

using test::ChildProcess;
using test::ScratchDirectory;

constexpr wchar_t kFolder[] = L"C:\\Program Files\\Talvor VPN";

TEST(IsInFolder, TakesWhatLiesBelowTheFolderAsWindowsComparesPaths) {
  struct Case {
    const wchar_t* path;
    const wchar_t* folder;
    bool inside;
    const char* what;
  };
  for (const Case& c : {
           Case{L"C:\\Program Files\\Talvor VPN\\talvor_app.exe", kFolder, true, "directly inside"},
           Case{L"C:\\Program Files\\Talvor VPN\\talvor_app.exe", L"C:\\Program Files\\Talvor VPN\\", true,
                "folder given with its separator, as msiexec gives it"},
           Case{L"c:\\PROGRAM FILES\\talvor vpn\\Talvor_App.EXE", kFolder, true, "another case"},
           Case{L"C:\\Program Files\\Talvor VPN\\data\\app.so", kFolder, true, "deeper"},
           Case{L"C:/Program Files/Talvor VPN/talvor_app.exe", kFolder, true, "forward slashes"},
           Case{L"C:\\Program Files\\Talvor VPN 2\\talvor_app.exe", kFolder, false, "a folder named alike"},
           Case{L"C:\\Program Files\\Talvor VPN\\..\\Other\\talvor_app.exe", kFolder, false, "out again by .."},
           Case{L"C:\\Program Files\\Talvor VPN\\", kFolder, false, "the folder itself"},
           Case{L"D:\\Program Files\\Talvor VPN\\talvor_app.exe", kFolder, false, "another drive"},
           Case{L"", kFolder, false, "no path"},
           Case{L"C:\\Program Files\\Talvor VPN\\talvor_app.exe", L"", false, "no folder"},
       }) {
    EXPECT_EQ(IsInFolder(c.path, c.folder), c.inside) << c.what;
  }
}

TEST(ExecutableOfOpenCommand, IsTheQuotedFirstPartOrTheFirstWord) {
  struct Case {
    const wchar_t* command;
    const wchar_t* program;
  };
  for (const Case& c : {
           Case{L"\"C:\\Program Files\\Talvor VPN\\talvor_app.exe\" \"%1\"",
                L"C:\\Program Files\\Talvor VPN\\talvor_app.exe"},
           Case{L"  \"C:\\A B\\x.exe\"", L"C:\\A B\\x.exe"},
           Case{L"C:\\Apps\\talvor_app.exe \"%1\"", L"C:\\Apps\\talvor_app.exe"},
           Case{L"C:\\Apps\\talvor_app.exe", L"C:\\Apps\\talvor_app.exe"},
           Case{L"\"C:\\Program Files\\Talvor VPN\\talvor_app.exe", L""},
           Case{L"   ", L""},
           Case{L"", L""},
       }) {
    EXPECT_EQ(ExecutableOfOpenCommand(c.command), c.program) << test::Utf8(std::wstring(c.command));
  }
}

// A scheme registered as the program registers it, under a key of this test
// rather than the user's real one.
class UrlSchemeCleanupTest : public testing::Test {
 protected:
  void TearDown() override { test::DeleteRegistryTree(HKEY_CURRENT_USER, root_); }

  void Register(const std::wstring& program) {
    const std::wstring command = L"\"" + program + L"\" \"%1\"";
    const std::wstring icon = program + L",0";
    ASSERT_EQ(SetValue(key_, L"", L"URL:Talvor Protocol"), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(key_, L"URL Protocol", L""), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(key_ + L"\\DefaultIcon", L"", icon), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(key_ + L"\\shell\\open\\command", L"", command), ERROR_SUCCESS);
  }

  bool Remove() {
    return RemoveUrlSchemeOf(kFolder, HKEY_CURRENT_USER, key_, [this](const std::wstring& line) {
      log_.push_back(line);
    });
  }

  // A value's bytes; none when it is missing.
  static std::vector<uint8_t> Bytes(const std::wstring& key, const wchar_t* name) {
    const std::optional<test::RegistryValue> value = test::ReadRegistryValue(HKEY_CURRENT_USER, key, name);
    return value ? value->bytes : std::vector<uint8_t>();
  }

  static LSTATUS SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    return RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), *name ? name : nullptr, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }

  const std::wstring root_ = L"Software\\TalvorInstallerTests-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring key_ = root_ + L"\\Classes\\talvor";
  std::vector<std::wstring> log_;
};

TEST_F(UrlSchemeCleanupTest, ASchemeStartingTheRemovedCopyGoesWithEverythingBelowIt) {
  Register(L"C:\\Program Files\\Talvor VPN\\talvor_app.exe");
  EXPECT_TRUE(Remove());
  EXPECT_FALSE(test::RegistryKeyExists(HKEY_CURRENT_USER, key_));
  EXPECT_EQ(log_, std::vector<std::wstring>{L"Removed the URL scheme of C:\\Program Files\\Talvor VPN\\talvor_app.exe."});
}

TEST_F(UrlSchemeCleanupTest, ASchemeOfAnotherCopyStaysWhole) {
  for (const wchar_t* other : {L"C:\\Program Files\\Talvor VPN 2\\talvor_app.exe", L"D:\\Portable\\talvor_app.exe"}) {
    Register(other);
    EXPECT_FALSE(Remove()) << test::Utf8(std::wstring(other));
    EXPECT_EQ(Bytes(key_ + L"\\shell\\open\\command", nullptr),
              test::RegistryStringBytes(L"\"" + std::wstring(other) + L"\" \"%1\""));
    EXPECT_EQ(Bytes(key_ + L"\\DefaultIcon", nullptr), test::RegistryStringBytes(std::wstring(other) + L",0"));
    EXPECT_EQ(Bytes(key_, L"URL Protocol"), test::RegistryStringBytes(L""));
  }
}

TEST_F(UrlSchemeCleanupTest, AKeyWithoutAnOpenCommandOrNoKeyAtAllIsLeftAsItIs) {
  EXPECT_FALSE(Remove());
  ASSERT_EQ(SetValue(key_, L"", L"URL:Talvor Protocol"), ERROR_SUCCESS);
  EXPECT_FALSE(Remove());
  EXPECT_TRUE(test::RegistryKeyExists(HKEY_CURRENT_USER, key_));
  EXPECT_TRUE(log_.empty());
}

// Copies of a stand-in for the program, in a folder being removed and
// elsewhere.
class CloseProgramsTest : public testing::Test {
 protected:
  std::optional<ChildProcess> StartCopy(const ScratchDirectory& folder, const wchar_t* name,
                                        const std::vector<std::wstring>& arguments = {}) {
    const std::wstring copy = folder.File(name);
    if (!CopyFileW(test::BuildPath(TALVOR_TEST_PROGRAM_DOUBLE).c_str(), copy.c_str(), FALSE)) return std::nullopt;
    std::optional<ChildProcess> process = ChildProcess::Start(copy, arguments);
    if (process && test::WaitForMainWindow(process->id()) == nullptr) return std::nullopt;
    return process;
  }

  std::vector<std::wstring> LinesNaming(const ChildProcess& process) const {
    std::vector<std::wstring> lines;
    const std::wstring name = L"process " + std::to_wstring(process.id()) + L" ";
    std::copy_if(log_.begin(), log_.end(), std::back_inserter(lines),
                 [&](const std::wstring& line) { return line.find(name) != std::wstring::npos; });
    return lines;
  }

  Log log() {
    return [this](const std::wstring& line) { log_.push_back(line); };
  }

  ScratchDirectory installation_{L"Talvor VPN"};
  ScratchDirectory elsewhere_{L"elsewhere"};
  std::vector<std::wstring> log_;
};

TEST_F(CloseProgramsTest, CopiesInTheFolderCloseAsAskedOrAreEndedAfterTheGraceOthersRunOn) {
  std::optional<ChildProcess> closing = StartCopy(installation_, L"talvor_app.exe");
  std::optional<ChildProcess> hung = StartCopy(installation_, L"hung.exe", {L"stays"});
  std::optional<ChildProcess> outsider = StartCopy(elsewhere_, L"talvor_app.exe");
  ASSERT_TRUE(closing && hung && outsider);

  CloseProgramsIn(installation_.path() + L"\\", std::chrono::seconds(3), log());

  EXPECT_EQ(closing->WaitForExit(std::chrono::milliseconds(0)), 0u) << "closed by WM_CLOSE";
  EXPECT_EQ(hung->WaitForExit(std::chrono::milliseconds(0)), kForcedExitCode);
  EXPECT_TRUE(outsider->Running());
  const std::wstring closing_name =
      L"process " + std::to_wstring(closing->id()) + L" (" + installation_.File(L"talvor_app.exe") + L")";
  const std::wstring hung_name =
      L"process " + std::to_wstring(hung->id()) + L" (" + installation_.File(L"hung.exe") + L")";
  EXPECT_EQ(LinesNaming(*closing),
            (std::vector<std::wstring>{L"Asked " + closing_name + L" to close.", closing_name + L" has ended."}));
  EXPECT_EQ(LinesNaming(*hung), (std::vector<std::wstring>{L"Asked " + hung_name + L" to close.",
                                                            L"Ended " + hung_name +
                                                                L" forcibly: it did not close in time."}));
  EXPECT_TRUE(LinesNaming(*outsider).empty());
}

TEST_F(CloseProgramsTest, WithNothingRunningFromTheFolderReturnsAtOnce) {
  std::optional<ChildProcess> outsider = StartCopy(elsewhere_, L"talvor_app.exe");
  ASSERT_TRUE(outsider);
  const auto start = std::chrono::steady_clock::now();
  CloseProgramsIn(installation_.path(), std::chrono::seconds(20), log());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(outsider->Running());
  EXPECT_TRUE(log_.empty());
}

}  // namespace
}  // namespace talvor::installer
