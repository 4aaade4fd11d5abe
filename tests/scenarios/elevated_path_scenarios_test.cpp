// What the program reads and loads when it may run elevated: the handed-over
// launch file wherever the elevated instance finds it, a launch file too
// large to be one, and libraries planted beside the program.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "codec/encodable_value.h"
#include "runner/win32_handles.h"
#include "tests/scenarios/scenario.h"
#include "tests/support/bundle_copy.h"
#include "tests/support/system_state.h"

namespace talvor::test {
namespace {

namespace fs = std::filesystem;
using flutter::EncodableValue;
using standins::MethodReply;

constexpr wchar_t kPendingLaunchArgument[] = L"--talvor-pending-tun-launch=";
const std::string kPayload = "{\"mode\": \"tun\", \"server\": \"Хельсинки 2\"}";

fs::path Bundle() { return BundleDirectory().lexically_normal(); }


std::string DescribeReply(const std::optional<MethodReply>& reply) {
  return reply ? standins::DescribeReply(*reply) : std::string("no reply");
}

bool IsSuccessWith(const std::optional<MethodReply>& reply, const EncodableValue& value) {
  return reply && reply->kind == MethodReply::Kind::kSuccess && reply->value == value;
}

// A file of `size` zero bytes, made without writing them.
bool MakeFileOfSize(const fs::path& path, LONGLONG size) {
  UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  LARGE_INTEGER end = {};
  end.QuadPart = size;
  return file && SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(file.get());
}

// Removes a folder the test made when it goes out of scope.
class MadeFolder {
 public:
  explicit MadeFolder(fs::path path) : path_(std::move(path)) { fs::create_directories(path_); }
  ~MadeFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  MadeFolder(const MadeFolder&) = delete;
  MadeFolder& operator=(const MadeFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The elevated instance may run as another account or with another TEMP
// than the instance that wrote the file: the launch is taken wherever it is.
TEST(ElevatedHandOverScenario, ALaunchFileInAnotherFolderIsConsumed) {
  const MadeFolder folder(fs::path(TestExecutableDirectory()) /
                          ("admin temp " + std::to_string(GetCurrentProcessId())));
  const fs::path file = folder.path() / "tlp7C1.tmp";
  ASSERT_TRUE(WriteFileBytes(file, kPayload));
  const std::optional<BundleCopy> installed = InstalledCopy();
  ASSERT_TRUE(installed);

  AppConnection app;
  std::optional<ShownProgram> program =
      StartShown(app, installed->path(), {kPendingLaunchArgument + file.wstring()});
  ASSERT_TRUE(program);
  EXPECT_TRUE(IsSuccessWith(app.CallMethod(kRuntimeChannel, "hasPendingTunLaunch", EncodableValue(), program->id()),
                            EncodableValue(true)));
  const std::optional<MethodReply> payload =
      app.CallMethod(kRuntimeChannel, "consumePendingTunLaunch", EncodableValue(), program->id());
  EXPECT_TRUE(IsSuccessWith(payload, EncodableValue(kPayload))) << DescribeReply(payload);
  EXPECT_FALSE(fs::exists(file));

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

// A copy that standard users can change (this build's own folder) ran
// whatever lay beside it: a launch handed to it is refused, neither read nor
// deleted.
TEST(ElevatedHandOverScenario, ALaunchHandedToACopyOutsideProgramFilesIsRefused) {
  const fs::path file = TemporaryDirectory() / ("tlp" + std::to_string(GetCurrentProcessId()) + "C.tmp");
  ASSERT_TRUE(WriteFileBytes(file, kPayload));

  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, Bundle(), {kPendingLaunchArgument + file.wstring()});
  ASSERT_TRUE(program);
  EXPECT_TRUE(IsSuccessWith(app.CallMethod(kRuntimeChannel, "hasPendingTunLaunch", EncodableValue(), program->id()),
                            EncodableValue(false)));
  EXPECT_TRUE(IsSuccessWith(
      app.CallMethod(kRuntimeChannel, "consumePendingTunLaunch", EncodableValue(), program->id()), EncodableValue()));

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
  EXPECT_EQ(ReadFileBytes(file), kPayload) << "neither read nor deleted, at the end either";
  std::error_code ignored;
  fs::remove(file, ignored);
}

// A launch file larger than any payload is not read: the window answers at
// once, closes at once, and the file is left alone.
TEST(ElevatedHandOverScenario, AFileTooLargeToBeALaunchIsRefusedWithoutHoldingTheWindow) {
  const fs::path file = TemporaryDirectory() / ("tlp" + std::to_string(GetCurrentProcessId()) + "L.tmp");
  ASSERT_TRUE(MakeFileOfSize(file, 40LL * 1024 * 1024));
  const std::optional<BundleCopy> installed = InstalledCopy();
  ASSERT_TRUE(installed);

  AppConnection app;
  std::optional<ShownProgram> program =
      StartShown(app, installed->path(), {kPendingLaunchArgument + file.wstring()});
  ASSERT_TRUE(program);
  const std::optional<MethodReply> payload = app.CallMethod(kRuntimeChannel, "consumePendingTunLaunch",
                                                            EncodableValue(), program->id(), std::chrono::seconds(5));
  EXPECT_TRUE(IsSuccessWith(payload, EncodableValue())) << DescribeReply(payload);

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
  EXPECT_EQ(fs::file_size(file), 40u * 1024 * 1024) << "neither read nor deleted, at the end either";
  std::error_code ignored;
  fs::remove(file, ignored);
}

// Every module of a process, as full paths.
std::vector<fs::path> ModulesOf(DWORD process_id) {
  std::vector<fs::path> modules;
  const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process_id));
  if (!snapshot) return modules;
  MODULEENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Module32FirstW(snapshot.get(), &entry); more; more = Module32NextW(snapshot.get(), &entry)) {
    modules.emplace_back(entry.szExePath);
  }
  return modules;
}

std::wstring Lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
  return text;
}

// The program may be relaunched with administrator rights, and its folder
// may be one that anybody can write to: a library placed there under a
// system library's name must never run in it.
TEST(PlantedLibraryScenario, ALibraryBesideTheProgramIsNeverLoaded) {
  std::optional<BundleCopy> installation = BundleCopy::Make(Bundle());
  ASSERT_TRUE(installation);
  // The engine loads dcomp.dll by its bare name, as a real engine's renderer
  // does: only the program's restriction of the search to the system folder
  // keeps a copy beside the program out. The program loads dwmapi.dll from
  // the system folder itself. (Planting a library that Wine's own system
  // libraries import, such as shcore.dll, breaks any program under Wine,
  // which has no known-libraries list: that is no test of this program.)
  const std::vector<std::string> planted = {"dwmapi.dll", "dcomp.dll"};
  for (const std::string& name : planted) {
    fs::copy_file(fs::path(TestExecutableDirectory()) / "planted_library.dll", *installation / name);
  }

  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, installation->path());
  ASSERT_TRUE(program);
  const std::vector<fs::path> modules = ModulesOf(program->id());
  for (const std::string& name : planted) {
    EXPECT_FALSE(fs::exists(*installation / (name + ".loaded"))) << "the planted " << name << " ran in the program";
  }

  // Of the installation, only the program and its own libraries are loaded.
  const std::vector<std::wstring> own = {L"talvor_app.exe", L"flutter_windows.dll", L"app_links_plugin.dll",
                                         L"flutter_secure_storage_windows_plugin.dll",
                                         L"url_launcher_windows_plugin.dll", L"talvor.dll"};
  ASSERT_FALSE(modules.empty()) << "the process's modules could not be listed";
  const std::wstring installation_folder = Lower(fs::path(installation->path()).lexically_normal().wstring());
  for (const fs::path& module : modules) {
    if (Lower(module.parent_path().lexically_normal().wstring()) != installation_folder) continue;
    EXPECT_NE(std::find(own.begin(), own.end(), Lower(module.filename().wstring())), own.end())
        << Utf8(module.wstring());
  }

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

}  // namespace
}  // namespace talvor::test
