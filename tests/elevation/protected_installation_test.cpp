// Where the program may be started with administrator rights from, and the
// path checks that an elevated process makes before it touches a path.
#include "runner/elevation/protected_installation.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runner/local_paths.h"
#include "tests/support/child_process.h"

namespace {

using talvor::test::TestExecutableDirectory;

TEST(ProtectedInstallation, IsInsideProgramFilesOnAFixedDriveWithoutReparsePoints) {
  const std::wstring program_files = L"C:\\Program Files";
  struct Case {
    const char* what;
    InstallationFacts facts;
    bool protected_installation;
  } cases[] = {
      {"installed", {L"C:\\Program Files\\Talvor VPN\\talvor_app.exe", 0, program_files, true, true}, true},
      {"in another letter case", {L"c:\\PROGRAM FILES\\Talvor VPN\\talvor_app.exe", 0, program_files, true, true},
       true},
      {"a folder that only starts like it",
       {L"C:\\Program Files (x86)\\Talvor VPN\\talvor_app.exe", 0, program_files, true, true}, false},
      {"the same name on another drive",
       {L"D:\\Program Files\\Talvor VPN\\talvor_app.exe", 0, program_files, true, true}, false},
      {"a user's folder", {L"C:\\Users\\u\\Talvor VPN\\talvor_app.exe", 0, program_files, true, true}, false},
      {"not a fixed drive", {L"C:\\Program Files\\Talvor VPN\\talvor_app.exe", 0, program_files, false, true},
       false},
      {"a reparse point on the way",
       {L"C:\\Program Files\\Talvor VPN\\talvor_app.exe", 0, program_files, true, false}, false},
      {"Program Files unknown", {L"C:\\Program Files\\Talvor VPN\\talvor_app.exe", 0, L"", true, true}, false},
      {"the executable unknown", {L"", ERROR_ACCESS_DENIED, program_files, true, true}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsProtectedInstallation(c.facts), c.protected_installation) << c.what;
    EXPECT_EQ(ProtectedExecutablePath(c.facts), c.protected_installation ? c.facts.executable : L"")
        << c.what;
  }
}

TEST(ProtectedInstallation, ABuildFolderIsNone) {
  const InstallationFacts facts = GatherInstallationFacts();
  EXPECT_TRUE(SamePath(facts.executable, TestExecutableDirectory() + L"\\elevation_tests.exe"))
      << std::string(facts.executable.begin(), facts.executable.end());
  EXPECT_EQ(facts.program_files, L"C:\\Program Files");
  EXPECT_FALSE(IsProtectedInstallation(facts));
}

TEST(LocalPaths, FixedDrivesOnly) {
  EXPECT_TRUE(IsOnFixedLocalDrive(L"C:\\Users\\u\\tlp1.tmp"));
  EXPECT_FALSE(IsOnFixedLocalDrive(L"Q:\\tlp1.tmp")) << "no such drive";
  EXPECT_FALSE(IsOnFixedLocalDrive(L"\\\\server\\share\\tlp1.tmp"));
  EXPECT_FALSE(IsOnFixedLocalDrive(L"C:"));
}

// The build made "through-link" beside this program: a link to the program's
// own folder, which Wine reports as a reparse point.
TEST(LocalPaths, FoldersAreHeldOnlyWithoutAReparsePointOnTheWay) {
  const std::wstring here = TestExecutableDirectory();
  EXPECT_TRUE(HeldFolders::Open(here + L"\\tlp1.tmp").has_value());
  EXPECT_FALSE(HeldFolders::Open(here + L"\\through-link\\tlp1.tmp").has_value());
  EXPECT_FALSE(HeldFolders::Open(here + L"\\no such folder\\tlp1.tmp").has_value());
  // That a held folder cannot be renamed is the system's sharing rule, which
  // Wine does not apply to folders: it is not tested here.
}

}  // namespace
